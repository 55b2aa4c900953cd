// Edge anti-aliasing on the final image (luminance in alpha).
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
    float4 centre = tex2D(SourceTexture, i.uv);
    float north = tex2D(SourceTexture, i.uv - float2(0.0, TexelSize.y)).a;
    float south = tex2D(SourceTexture, i.uv + float2(0.0, TexelSize.y)).a;
    float west = tex2D(SourceTexture, i.uv - float2(TexelSize.x, 0.0)).a;
    float east = tex2D(SourceTexture, i.uv + float2(TexelSize.x, 0.0)).a;
    float range = max(max(north, south), max(west, east)) - min(min(north, south), min(west, east));
    if (range < 0.0625)
        return centre;
    float2 direction = normalize(float2(north + south - 2.0 * centre.a, west + east - 2.0 * centre.a) + 1e-5);
    float4 a = tex2D(SourceTexture, i.uv + direction * TexelSize.xy * 0.5);
    float4 b = tex2D(SourceTexture, i.uv - direction * TexelSize.xy * 0.5);
    return (a + b) * 0.5;
}
