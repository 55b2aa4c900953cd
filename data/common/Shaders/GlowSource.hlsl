// Bright pass of the glow at quarter resolution.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 GlowThreshold;
sampler2D SceneTexture : register(s0);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    float3 colour = tex2D(SceneTexture, i.uv).rgb;
    float bright = max(dot(colour, float3(0.299, 0.587, 0.114)) - GlowThreshold.x, 0.0);
    return float4(colour * bright * GlowThreshold.y, 1.0);
}
