// Screen-space ambient occlusion: occlusion from depth samples around each pixel.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 SSAOParams;        // radius, strength, bias
float4 Kernel[8];
sampler2D NormalTexture : register(s0);
sampler2D NoiseTexture : register(s1);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    float depth = ReadLinearDepth(i.uv);
#ifdef USE_NORMAL_MAPS
    float3 normal = tex2D(NormalTexture, i.uv).xyz * 2.0 - 1.0;
#else
    float3 normal = float3(0.0, 0.0, -1.0);
#endif
    float2 rotation = tex2D(NoiseTexture, i.uv * 64.0).xy * 2.0 - 1.0;
    float occlusion = 0.0;
    for (int k = 0; k < 8; ++k)
    {
        float2 offset = reflect(Kernel[k].xy, rotation) * SSAOParams.x / depth;
        float sampleDepth = ReadLinearDepth(i.uv + offset);
        float facing = saturate(dot(normal, normalize(float3(offset, sampleDepth - depth))) + 1.0);
        occlusion += (depth - sampleDepth > SSAOParams.z ? 1.0 : 0.0) * facing;
    }
    float ao = 1.0 - occlusion / 8.0 * SSAOParams.y;
    return float4(ao, ao, ao, depth);
}
