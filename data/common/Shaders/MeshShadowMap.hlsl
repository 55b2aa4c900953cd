// Meshes drawn into the sun's shadow map: depth only, alpha-tested when asked.
#include "Globals.hlsli"
#include "Skinning.hlsli"

row_major float4x4 ModelViewProjMatrix;
row_major float4x4 ModelMatrix;
#ifdef DISTORTION
// The part's parameter vector the depth draw sends to register 200, and the frame times
// the renderer writes for vertex shaders (the pixel stage reads its own copy).
float4 DistortionParams : register(c200);
float4 VertexFrameTimes : register(c247);
#endif
sampler2D DiffuseTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float2 uv : TEXCOORD0;
    float depth : TEXCOORD1;
};

VertexOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0, float4 weights : BLENDWEIGHT,
                 float4 indices : BLENDINDICES, float4 instance0 : TEXCOORD4, float4 instance1 : TEXCOORD5,
                 float4 instance2 : TEXCOORD6)
{
    VertexOut o;
#ifdef SKINNING
    position = Skin(position, weights, indices);
#endif
#ifdef INSTANCING
    position = float4(dot(position, instance0), dot(position, instance1), dot(position, instance2), 1.0);
#endif
#ifdef DISTORTION
    float3 world = mul(position, ModelMatrix).xyz;
    position.xyz += sin(world.zxy * DistortionParams.x + VertexFrameTimes.x * DistortionParams.y) * DistortionParams.z;
#endif
    o.position = mul(position, ModelViewProjMatrix);
    o.depth = o.position.z / o.position.w;
#ifdef ALPHA_TEST
    o.uv = uv;
#else
    o.uv = float2(0.0, 0.0);
#endif
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
#ifdef ALPHA_TEST
    clip(tex2D(DiffuseTexture, i.uv).a - 0.5);
#endif
    return float4(i.depth, i.depth, i.depth, 1.0);
}
