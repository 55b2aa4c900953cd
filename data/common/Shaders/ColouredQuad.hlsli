// The vertex stage of flat, coloured UI quads: position through the model view
// projection, vertex colour times the model colour.
#ifndef COLOURED_QUAD_HLSLI
#define COLOURED_QUAD_HLSLI

row_major float4x4 ModelViewProjMatrix;
float4 ConstantColor;

struct VertexOut
{
    float4 position : POSITION;
    float4 colour : COLOR0;
    float2 uv : TEXCOORD0;
};

VertexOut ColouredQuadVertex(float4 position, float4 colour, float2 uv)
{
    VertexOut o;
    o.position = mul(position, ModelViewProjMatrix);
    o.colour = colour * ConstantColor;
    o.uv = uv;
    return o;
}

#endif
