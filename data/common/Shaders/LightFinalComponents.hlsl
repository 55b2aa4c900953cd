// The scene's global light over the whole screen, into the light buffer: the sun with
// wrap-around and its shadow, the ambient cube, the secondary and side colours, the
// specular highlight and the cloud projection. Only stencil-marked (deferred) pixels run.
#include "GBuffer.hlsli"

float4x4 InverseView : register(c10);       // rows: view to world
float4 SunDirection : register(c14);        // view space, toward the sun
float4 SpecularDirection : register(c15);   // view space, toward the light
float4 SunColor : register(c16);            // x 0.25; w its luminance
float4 SecondaryColor : register(c17);      // x 0.25
float4 SideColor : register(c18);           // x 0.25
float4 SpecularColor : register(c19);       // x 0.25
float4 LightTerms : register(c20);          // wrap-around, fake shadow strength, shadow strength
float4 CloudU : register(c21);              // view position to cloud texture u
float4 CloudV : register(c22);              // ... v
row_major float4x4 ShadowMatrix : register(c25);  // view space to shadow-map texture space
float4 ShadowTerms : register(c29);         // 1 - shadow strength, 1 / size, size
sampler2D CloudTexture : register(s0);
samplerCUBE AmbientCube : register(s5);
sampler2D NormalTexture : register(s6);
sampler2D ShadowTexture : register(s12);

struct QuadOut
{
    float4 position : POSITION;
    float2 uv : TEXCOORD0;
};

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    QuadOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    o.uv = uv + HalfTexelAndProjection.xy;
    return o;
}

float ShadowLit(float3 viewPosition)
{
#ifdef SHADOWMAP
    float4 s = mul(float4(viewPosition, 1.0), ShadowMatrix);
    float2 uv = s.xy / s.w;
    float z = s.z / s.w;
#ifdef SHADOWMAP_FILTERING
    float lit = 0.0;
    for (int k = 0; k < 4; ++k)
        lit += tex2D(ShadowTexture, uv + (float2(k % 2, k / 2) - 0.5) * ShadowTerms.y).r >= z ? 0.25 : 0.0;
#else
    float lit = tex2D(ShadowTexture, uv).r >= z ? 1.0 : 0.0;
#endif
    return ShadowTerms.x + (1.0 - ShadowTerms.x) * lit;
#else
    return 1.0;
#endif
}

float4 pixel(QuadOut i) : COLOR0
{
    float depth = ReadLinearDepth(i.uv);
    float3 viewPosition = ViewPositionAt(i.uv, depth);
    float3 normal = DecodeViewNormal(tex2D(NormalTexture, i.uv));
    float facing = dot(normal, SunDirection.xyz);
    float wrap = LightTerms.x;
    float sun = saturate((facing + wrap) / (1.0 + wrap)) * ShadowLit(viewPosition);
    float3 worldNormal = mul(float4(normal, 0.0), InverseView).xyz;
    float3 ambient = texCUBE(AmbientCube, worldNormal).rgb * 0.25;
    float3 colour = ambient + SecondaryColor.rgb + SideColor.rgb * (1.0 - abs(facing)) + SunColor.rgb * sun;
#ifdef MASK
    colour *= tex2D(CloudTexture, float2(dot(float4(viewPosition, 1.0), CloudU), dot(float4(viewPosition, 1.0), CloudV))).rgb;
#endif
#ifdef LOWSPEC
    return float4(colour, 0.0);
#else
    float3 h = normalize(SpecularDirection.xyz - normalize(viewPosition));
    float specular = pow(saturate(dot(normal, h)), 32.0) * sun * dot(SpecularColor.rgb, float3(0.2126, 0.7152, 0.0722));
    return float4(colour, specular);
#endif
}
