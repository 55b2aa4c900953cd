// Outlines of highlighted entities: the dilated mask minus the entity, hidden where
// scene geometry lies in front.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 OutlineColor;
float4 TexelSize;
sampler2D MaskTexture : register(s0);
sampler2D MaskDepthTexture : register(s1);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    float inside = tex2D(MaskTexture, i.uv).r;
    float around = inside;
#ifndef LOW_SPEC_MODE
    around = max(around, tex2D(MaskTexture, i.uv + float2(TexelSize.x, 0.0)).r);
    around = max(around, tex2D(MaskTexture, i.uv - float2(TexelSize.x, 0.0)).r);
    around = max(around, tex2D(MaskTexture, i.uv + float2(0.0, TexelSize.y)).r);
    around = max(around, tex2D(MaskTexture, i.uv - float2(0.0, TexelSize.y)).r);
#endif
    float hidden = ReadLinearDepth(i.uv) < tex2D(MaskDepthTexture, i.uv).r ? 0.5 : 1.0;
    return float4(OutlineColor.rgb, saturate(around - inside) * OutlineColor.a * hidden);
}
