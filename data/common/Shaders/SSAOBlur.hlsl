// Depth-aware blur of the occlusion term; the final pass writes it for the lighting.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 BlurStep;
sampler2D OcclusionTexture : register(s0);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    float depth = ReadLinearDepth(i.uv);
    float sum = 0.0;
    float weight = 0.0;
    for (int k = -2; k <= 2; ++k)
    {
        float4 s = tex2D(OcclusionTexture, i.uv + BlurStep.xy * k);
        float w = 1.0 / (1.0 + abs(s.a - depth));
        sum += s.r * w;
        weight += w;
    }
    float ao = sum / weight;
#ifdef FINAL_PASS
    return float4(ao, ao, ao, 1.0);
#else
    return float4(ao, ao, ao, depth);
#endif
}
