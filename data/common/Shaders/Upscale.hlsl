// Scales the rendered scene up to the back buffer.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

sampler2D SceneTexture : register(s0);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    return tex2D(SceneTexture, i.uv);
}
