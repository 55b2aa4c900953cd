// Glyph quads of the bitmap fonts; the glyph coverage is in the alpha channel.
#include "Globals.hlsli"
#include "ColouredQuad.hlsli"

float4 OutlineColor;
sampler2D GlyphTexture : register(s0);

VertexOut vertex(float4 position : POSITION, float4 colour : COLOR0, float2 uv : TEXCOORD0)
{
    return ColouredQuadVertex(position, colour, uv);
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 glyph = tex2D(GlyphTexture, i.uv);
#ifdef OUTLINES
    // Coverage in alpha, outline in green: the outline shows where the glyph does not.
    float4 result = lerp(OutlineColor, i.colour, glyph.a);
    result.a = max(glyph.a, glyph.g) * i.colour.a;
    return result;
#else
    return float4(i.colour.rgb, i.colour.a * glyph.a);
#endif
}
