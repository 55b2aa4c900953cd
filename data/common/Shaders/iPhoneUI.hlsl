// Flat UI elements: a vertex colour, optionally modulated by a texture.
#include "Globals.hlsli"
#include "ColouredQuad.hlsli"

sampler2D ElementTexture : register(s0);

VertexOut vertex(float4 position : POSITION, float4 colour : COLOR0, float2 uv : TEXCOORD0)
{
    return ColouredQuadVertex(position, colour, uv);
}

float4 pixel(VertexOut i) : COLOR0
{
#ifdef NO_TEXTURE
    return i.colour;
#else
    return i.colour * tex2D(ElementTexture, i.uv);
#endif
}
