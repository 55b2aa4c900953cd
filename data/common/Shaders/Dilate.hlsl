// Grows the outline mask by one texel in every direction.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 TexelSize;
sampler2D MaskTexture : register(s0);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    float4 m = tex2D(MaskTexture, i.uv);
    m = max(m, tex2D(MaskTexture, i.uv + float2(TexelSize.x, 0.0)));
    m = max(m, tex2D(MaskTexture, i.uv - float2(TexelSize.x, 0.0)));
    m = max(m, tex2D(MaskTexture, i.uv + float2(0.0, TexelSize.y)));
    m = max(m, tex2D(MaskTexture, i.uv - float2(0.0, TexelSize.y)));
    return m;
}
