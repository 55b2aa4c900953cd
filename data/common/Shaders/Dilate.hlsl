// Spreads the outline coverage (category 0 green, 1 red, 2 blue, 3 alpha) over the
// kernel and colours it: the outline image the composite blends over the scene.
#include "Globals.hlsli"

// One block for both stages (their registers overlap).
// Vertex: c0 (0.5, -0.5, 0.5 + 0.5 / w, 0.5 + 0.5 / h), c1 (d / w, d / h, -d / w, d / h).
// Pixel: c0-c3 the hostile, friendly, neutral and hero colours x alpha x 0.2.
float4 Constants[4] : register(c0);
sampler2D CoverageTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float2 uv0 : TEXCOORD0;
    float2 uv1 : TEXCOORD1;
    float2 uv2 : TEXCOORD2;
    float2 uv3 : TEXCOORD3;
    float2 uv4 : TEXCOORD4;
};

VertexOut vertex(float4 position : POSITION)
{
    VertexOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    float2 uv = position.xy * Constants[0].xy + Constants[0].zw;
    o.uv0 = uv;
    o.uv1 = uv + Constants[1].xy;
    o.uv2 = uv - Constants[1].xy;
    o.uv3 = uv + Constants[1].zw;
    o.uv4 = uv - Constants[1].zw;
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 c = tex2D(CoverageTexture, i.uv0) + tex2D(CoverageTexture, i.uv1) + tex2D(CoverageTexture, i.uv2) +
               tex2D(CoverageTexture, i.uv3) + tex2D(CoverageTexture, i.uv4);
    // Five taps of 0.2 each: a fully covered neighbourhood gives the full colour.
    return Constants[0] * c.g + Constants[1] * c.r + Constants[2] * c.b + Constants[3] * c.a;
}
