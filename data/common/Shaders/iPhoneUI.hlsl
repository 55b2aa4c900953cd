// Flat UI elements: a vertex colour, optionally modulated by a texture.
#include "Globals.hlsli"

row_major float4x4 ModelViewProjMatrix;
float4 ConstantColor;
sampler2D ElementTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float4 colour : COLOR0;
    float2 uv : TEXCOORD0;
};

VertexOut vertex(float4 position : POSITION, float4 colour : COLOR0, float2 uv : TEXCOORD0)
{
    VertexOut o;
    o.position = mul(position, ModelViewProjMatrix);
    o.colour = colour * ConstantColor;
    o.uv = uv;
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
#ifdef NO_TEXTURE
    return i.colour;
#else
    return i.colour * tex2D(ElementTexture, i.uv);
#endif
}
