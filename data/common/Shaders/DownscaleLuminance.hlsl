// Average luminance of 2 x 2 texels, for the local contrast of the composite.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 TexelSize;
sampler2D SourceTexture : register(s0);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    const float3 luma = float3(0.299, 0.587, 0.114);
    float sum = dot(tex2D(SourceTexture, i.uv).rgb, luma)
              + dot(tex2D(SourceTexture, i.uv + float2(TexelSize.x, 0.0)).rgb, luma)
              + dot(tex2D(SourceTexture, i.uv + float2(0.0, TexelSize.y)).rgb, luma)
              + dot(tex2D(SourceTexture, i.uv + TexelSize.xy).rgb, luma);
    return float4(sum * 0.25, sum * 0.25, sum * 0.25, 1.0);
}
