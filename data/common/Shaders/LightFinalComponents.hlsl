// The sun's light and the ambient term over the whole screen, combined with the light
// buffer of the deferred lights.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 SunDirection;      // view space
float4 SunColor;
float4 AmbientColor;
row_major float4x4 ShadowMatrix;
sampler2D NormalTexture : register(s0);
sampler2D LightBufferTexture : register(s1);
sampler2D ShadowTexture : register(s2);
sampler2D MaskTexture : register(s3);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    float depth = ReadLinearDepth(i.uv);
    float3 viewPosition = float3((i.uv * 2.0 - 1.0) * float2(1.0, -1.0) / ProjectionTerms.xy, 1.0) * depth;
    float3 normal = tex2D(NormalTexture, i.uv).xyz * 2.0 - 1.0;
    float sun = saturate(dot(normal, -SunDirection.xyz));
#ifdef SHADOWMAP
    float4 s = mul(float4(viewPosition, 1.0), ShadowMatrix);
#ifdef SHADOWMAP_FILTERING
    float lit = 0.0;
    for (int k = 0; k < 4; ++k)
        lit += tex2D(ShadowTexture, s.xy / s.w + float2(k % 2, k / 2) * ScreenTexel.xy).r >= s.z / s.w ? 0.25 : 0.0;
    sun *= lit;
#else
    sun *= tex2D(ShadowTexture, s.xy / s.w).r >= s.z / s.w ? 1.0 : 0.0;
#endif
#endif
#ifdef MASK
    sun *= tex2D(MaskTexture, i.uv).r;
#endif
    float4 lights = tex2D(LightBufferTexture, i.uv);
    float3 colour = AmbientColor.rgb + SunColor.rgb * sun + lights.rgb;
#ifdef LOWSPEC
    return float4(colour, 1.0);
#else
    return float4(colour, lights.a + sun * SunColor.a);
#endif
}
