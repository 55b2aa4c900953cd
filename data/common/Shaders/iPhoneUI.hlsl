// UI quads: the renderer's global vertex layout (colour, position, the element's pixel
// parameter, texture coordinate), the vertex colour times the model colour, optionally
// modulated by the element's texture, faded by the tree draw's fade record.
//
// Registers the UI sets: vertex c195/c196 texture scale and offset (identity for batched
// quads, whose coordinates are final), c12-c13 the two columns of the fading element's
// inverse transform that give its local x and y; pixel c3 the vertical fade band
// (-h/2, -1/f, h/(2f), 0; (0, 0, 1, 0) without fading), c32 the immediate draw's parameter.
#include "Globals.hlsli"

row_major float4x4 ModelViewProjMatrix;
row_major float4x4 ModelMatrix;  // identity for batched quads, whose positions are in UI space
float4 ConstantColor;
float4 UITextureScale : register(c195);
float4 UITextureOffset : register(c196);
float4 FadeColumnX : register(c12);
float4 FadeColumnY : register(c13);

float4 FadeBand : register(c3);
sampler2D ElementTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float4 colour : COLOR0;
    float2 uv : TEXCOORD0;
    float4 parameter : TEXCOORD1;
    float2 local : TEXCOORD2;
};

VertexOut vertex(float4 colour : COLOR0, float4 position : POSITION, float4 parameter : TEXCOORD1,
                 float2 uv : TEXCOORD0)
{
    VertexOut o;
    float4 p = float4(position.xyz, 1.0);
    o.position = mul(p, ModelViewProjMatrix);
    o.colour = colour * ConstantColor;
    o.uv = uv * UITextureScale.xy + UITextureOffset.xy;
    o.parameter = parameter;
    // The fade columns take UI-space positions: an immediate draw's unit quad goes
    // through its model matrix first.
    float4 world = mul(p, ModelMatrix);
    o.local = float2(dot(world, FadeColumnX), dot(world, FadeColumnY));
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 result = i.colour;
#ifndef NO_TEXTURE
    result *= tex2D(ElementTexture, i.uv);
#endif
    // The distance to the nearer of the band's top and bottom borders over the fade width.
    result.a *= saturate(abs(i.local.y + FadeBand.x) * FadeBand.y + FadeBand.z);
    return result;
}
