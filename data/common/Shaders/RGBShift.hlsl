// Shifts the red and blue channels apart.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 ShiftAmount;
sampler2D SourceTexture : register(s0);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    float4 c = tex2D(SourceTexture, i.uv);
    c.r = tex2D(SourceTexture, i.uv + ShiftAmount.xy).r;
    c.b = tex2D(SourceTexture, i.uv - ShiftAmount.xy).b;
    return c;
}
