// Renders the ambient light of the scene's light probes into a face of the ambient cube.
#include "Globals.hlsli"

row_major float4x4 ModelViewProjMatrix;
row_major float4x4 ModelMatrix;
float4 LightProbe[6];
sampler2D MaskTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float3 direction : TEXCOORD0;
    float2 uv : TEXCOORD1;
};

VertexOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    VertexOut o;
    o.position = mul(position, ModelViewProjMatrix);
    o.direction = mul(position, ModelMatrix).xyz;
    o.uv = uv;
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    float3 n = normalize(i.direction);
    float3 w = n * n;
    float3 colour = w.x * (n.x > 0.0 ? LightProbe[0].rgb : LightProbe[1].rgb)
                  + w.y * (n.y > 0.0 ? LightProbe[2].rgb : LightProbe[3].rgb)
                  + w.z * (n.z > 0.0 ? LightProbe[4].rgb : LightProbe[5].rgb);
#ifdef MASK
    colour *= tex2D(MaskTexture, i.uv).r;
#endif
    return float4(colour, 1.0);
}
