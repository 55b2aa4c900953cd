// Skinning matrices at c0, three registers each; two bones per vertex.
#ifndef SKINNING_HLSLI
#define SKINNING_HLSLI

row_major float3x4 BoneMatrices[MAX_SHADER_SKINNING_BONES] : register(c0);

float4 Skin(float4 position, float4 weights, float4 indices)
{
    float3 skinned = mul(BoneMatrices[(int)indices.x], position) * weights.x
                   + mul(BoneMatrices[(int)indices.y], position) * weights.y;
    return float4(skinned, 1.0);
}

#endif
