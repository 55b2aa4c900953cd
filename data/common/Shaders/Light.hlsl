// Deferred lighting: one light volume (point, spot or tube) drawn over the scene, its
// light computed from the view depth and the normal target.
#include "Globals.hlsli"

row_major float4x4 ModelViewProjMatrix;
row_major float4x4 ModelViewMatrix;
float4 LightPosition;     // view space, w = 1 / radius
float4 LightDirection;    // view space, w = cos(outer angle)
float4 LightColor;
float4 TubeAxis;          // view space half axis, w = half length
row_major float4x4 ShadowMatrix;
sampler2D NormalTexture : register(s0);
sampler2D MaskTexture : register(s1);
sampler2D ShadowTexture : register(s2);

struct VertexOut
{
    float4 position : POSITION;
    float4 screen : TEXCOORD0;
    float3 viewRay : TEXCOORD1;
};

VertexOut vertex(float4 position : POSITION)
{
    VertexOut o;
    o.position = mul(position, ModelViewProjMatrix);
    o.screen = o.position;
    o.viewRay = mul(position, ModelViewMatrix).xyz;
    return o;
}

float ShadowTerm(float3 viewPosition)
{
#ifdef SHADOWMAP
    float4 s = mul(float4(viewPosition, 1.0), ShadowMatrix);
    float2 uv = s.xy / s.w;
#ifdef SHADOWMAP_FILTERING
    float lit = 0.0;
    for (int k = 0; k < 4; ++k)
    {
        float2 offset = float2(k % 2, k / 2) * ScreenTexel.xy;
        lit += tex2D(ShadowTexture, uv + offset).r >= s.z / s.w ? 0.25 : 0.0;
    }
    return lit;
#else
    return tex2D(ShadowTexture, uv).r >= s.z / s.w ? 1.0 : 0.0;
#endif
#else
    return 1.0;
#endif
}

float4 pixel(VertexOut i) : COLOR0
{
    float2 uv = i.screen.xy / i.screen.w * float2(0.5, -0.5) + 0.5 + HalfTexelAndProjection.xy;
    float depth = ReadLinearDepth(uv);
    float3 viewPosition = i.viewRay * (depth / i.viewRay.z);
    float3 normal = tex2D(NormalTexture, uv).xyz * 2.0 - 1.0;
#ifdef TUBE
    float along = clamp(dot(viewPosition - LightPosition.xyz, TubeAxis.xyz), -TubeAxis.w, TubeAxis.w);
    float3 toLight = LightPosition.xyz + TubeAxis.xyz * along - viewPosition;
#else
    float3 toLight = LightPosition.xyz - viewPosition;
#endif
    float distance = length(toLight);
    float3 l = toLight / distance;
    float attenuation = saturate(1.0 - distance * LightPosition.w);
#ifdef SPOT
    attenuation *= saturate((dot(-l, LightDirection.xyz) - LightDirection.w) / (1.0 - LightDirection.w));
#endif
#ifdef MASK
    attenuation *= tex2D(MaskTexture, uv).r;
#endif
    float lit = saturate(dot(normal, l)) * attenuation * ShadowTerm(viewPosition);
#ifdef LOWSPEC
    return float4(LightColor.rgb * lit, 0.0);
#else
    float3 h = normalize(l - normalize(viewPosition));
    float specular = pow(saturate(dot(normal, h)), 32.0) * lit;
    return float4(LightColor.rgb * lit, specular);
#endif
}
