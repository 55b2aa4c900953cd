// The deferred geometry's G-buffer. Render target 0 holds the view-space normal as
// n * 0.5 + 0.5; render target 1 (only without hardware depth) the linear view depth,
// stored so that ReadLinearDepth gives it back. The lighting passes decode both here.
#ifndef GBUFFER_HLSLI
#define GBUFFER_HLSLI

#include "Globals.hlsli"

struct GBufferOut
{
    float4 normal : COLOR0;
    float4 depth : COLOR1;
};

float4 EncodeViewNormal(float3 viewNormal)
{
    return float4(normalize(viewNormal) * 0.5 + 0.5, 1.0);
}

float3 DecodeViewNormal(float4 stored)
{
    return normalize(stored.xyz * 2.0 - 1.0);
}

GBufferOut WriteGBuffer(float3 viewNormal, float viewDepth)
{
    GBufferOut o;
    o.normal = EncodeViewNormal(viewNormal);
    o.depth = float4(viewDepth / DepthParams.x, 0.0, 0.0, 1.0);
    return o;
}

// The view-space position of a screen position (texture coordinates) at a view depth.
float3 ViewPositionAt(float2 uv, float viewDepth)
{
    return float3((uv * 2.0 - 1.0) * float2(1.0, -1.0) * ProjectionTerms.xy, 1.0) * viewDepth;
}

#endif
