// Deferred lighting: one light volume (point, spot or tube) added over the scene's
// stencil-marked pixels, its light computed from the view depth and the normal target.
#include "GBuffer.hlsli"

row_major float4x4 VolumeViewProjection : register(c0);  // vertex: volume to clip space
row_major float4x4 VolumeView : register(c4);            // vertex: volume to view space
float4 LightColor : register(c10);        // pixel: colour x 0.25
float4 LightIntensity : register(c11);    // colour x intensity; w its luminance
float4 LightPosition : register(c12);     // view space
float4 Attenuation : register(c13);       // distance² x x + y, cos x z + w
float4 LightDirection : register(c14);    // view space axis (spot and tube)
row_major float4x4 MaskMatrix : register(c15);  // view space to the projected texture
sampler2D MaskTexture : register(s0);
sampler2D NormalTexture : register(s6);

struct VertexOut
{
    float4 position : POSITION;
    float4 screen : TEXCOORD0;
    float3 viewRay : TEXCOORD1;
};

VertexOut vertex(float4 position : POSITION)
{
    VertexOut o;
    o.position = mul(float4(position.xyz, 1.0), VolumeViewProjection);
    o.screen = o.position;
    o.viewRay = mul(float4(position.xyz, 1.0), VolumeView).xyz;
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    float2 uv = i.screen.xy / i.screen.w * float2(0.5, -0.5) + 0.5 + HalfTexelAndProjection.xy;
    float depth = ReadLinearDepth(uv);
    float3 viewPosition = i.viewRay * (depth / i.viewRay.z);
    float3 normal = DecodeViewNormal(tex2D(NormalTexture, uv));
#ifdef TUBE
    float along = dot(viewPosition - LightPosition.xyz, LightDirection.xyz);
    float3 toLight = LightPosition.xyz + LightDirection.xyz * along - viewPosition;
#else
    float3 toLight = LightPosition.xyz - viewPosition;
#endif
    float distance2 = dot(toLight, toLight);
    float3 l = toLight * rsqrt(max(distance2, 1e-8));
    float attenuation = saturate(distance2 * Attenuation.x + Attenuation.y);
#ifdef SPOT
    attenuation *= saturate(dot(-l, LightDirection.xyz) * Attenuation.z + Attenuation.w);
#endif
#ifdef MASK
    float4 m = mul(float4(viewPosition, 1.0), MaskMatrix);
    attenuation *= tex2D(MaskTexture, m.xy / m.w).r;
#endif
    float lit = saturate(dot(normal, l)) * attenuation;
#ifdef LOWSPEC
    return float4(LightIntensity.rgb * lit, 0.0);
#else
    float3 h = normalize(l - normalize(viewPosition));
    float specular = pow(saturate(dot(normal, h)), 32.0) * lit * LightIntensity.w;
    return float4(LightIntensity.rgb * lit, specular);
#endif
}
