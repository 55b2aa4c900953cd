// The full-screen quad of the post-processing passes: c0 = (viewport width / target
// width, viewport height / target height, half a texel in x, half a texel in y).
#ifndef FULL_SCREEN_QUAD_HLSLI
#define FULL_SCREEN_QUAD_HLSLI

float4 QuadParams : register(c0);

struct QuadOut
{
    float4 position : POSITION;
    float2 uv : TEXCOORD0;
};

QuadOut QuadVertex(float4 position, float2 uv)
{
    QuadOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    o.uv = uv * QuadParams.xy + QuadParams.zw;
    return o;
}

#endif
