// Glyph quads of the bitmap fonts. A vertex is 16 bytes: the position in pixels from the
// pen origin and the texel coordinates as 16-bit integers, the colour as four signed
// normalised 16-bit values. c195 turns texels into texture coordinates (1 / 1024, 1 /
// the page's height) and c196 is added after. One-byte pages hold the glyph's coverage
// (alpha); two-byte pages the outline's coverage (luminance) and the glyph's (alpha),
// the outline drawn in OutlineColor (pixel c200). Pixel centres lie on whole positions, so
// a glyph drawn at a whole pixel reads each texel at its centre half a texel further on.
#include "Globals.hlsli"
#include "ColouredQuad.hlsli"

float4 TexelToTexture : register(c195);
float4 TextureOffset : register(c196);
float4 OutlineColor : register(c200);
sampler2D GlyphTexture : register(s0);

VertexOut vertex(float4 position : POSITION, float2 texel : TEXCOORD0, float4 colour : COLOR0)
{
    return ColouredQuadVertex(float4(position.xy, 0.0, 1.0), colour, (texel + 0.5) * TexelToTexture.xy + TextureOffset.xy);
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 glyph = tex2D(GlyphTexture, i.uv);
#ifdef OUTLINES
    // The glyph over its outline.
    float4 result = lerp(OutlineColor, i.colour, glyph.a);
    result.a = max(glyph.a, glyph.g * OutlineColor.a) * i.colour.a;
    return result;
#else
    return float4(i.colour.rgb, i.colour.a * glyph.a);
#endif
}
