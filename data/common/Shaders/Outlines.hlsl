// Blends the dilated outline image over the output: a soft edge whose strength follows
// the softness pair (5 / (4f + 1), 5f / (4f + 1)).
#include "Globals.hlsli"

// One block for both stages (their registers overlap).
// Vertex: c0 (0.5, -0.5, 0.5 + 0.5 / w, 0.5 + 0.5 / h), c1 (0.5 / w, 0.5 / h, 0.5 / w, -0.5 / h).
// Pixel: c0 the softness pair.
float4 Constants[2] : register(c0);
sampler2D OutlineTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float2 uv[2] : TEXCOORD0;
};

VertexOut vertex(float4 position : POSITION)
{
    VertexOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    float2 uv = position.xy * Constants[0].xy + Constants[0].zw;
    o.uv[0] = uv + Constants[1].xy;
    o.uv[1] = uv + Constants[1].zw;
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
#ifdef LOW_SPEC_MODE
    float4 c = tex2D(OutlineTexture, i.uv[0]);
#else
    float4 c = (tex2D(OutlineTexture, i.uv[0]) + tex2D(OutlineTexture, i.uv[1])) * 0.5;
#endif
    float strength = saturate(max(c.r, max(c.g, c.b)) * Constants[0].x - Constants[0].y);
    return float4(c.rgb / max(max(c.r, max(c.g, c.b)), 1e-4), strength);
}
