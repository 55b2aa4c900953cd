// The final composite: tone curve, colour lookup, contrast and saturation, vignette,
// glow and outlines over the scene colour.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 GlowParams;        // intensity, threshold, contrast, saturation
float4 VignetteParams;
float4 OutlineParams;
float4 ColorFactor : register(c14);
sampler2D SceneTexture : register(s0);
sampler2D GlowTexture : register(s1);
sampler2D OutlineTexture : register(s2);
sampler2D LuminanceTexture : register(s3);
sampler2D LookupTexture : register(s4);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    float4 scene = tex2D(SceneTexture, i.uv);
    float3 colour = scene.rgb;
#ifdef ENABLED
    colour += tex2D(GlowTexture, i.uv).rgb * GlowParams.x;
#ifdef LOCAL_CONTRAST
    float local = tex2D(LuminanceTexture, i.uv).r;
    colour *= 1.0 + (dot(colour, float3(0.299, 0.587, 0.114)) - local) * GlowParams.z;
#endif
#ifndef LOW_SPEC_MODE
    float grey = dot(colour, float3(0.299, 0.587, 0.114));
    colour = lerp(float3(grey, grey, grey), colour, GlowParams.w);
    float2 centre = i.uv * 2.0 - 1.0;
    colour *= saturate(1.0 - dot(centre, centre) * VignetteParams.x);
    colour = float3(tex2D(LookupTexture, float2(colour.r, 0.5)).r, tex2D(LookupTexture, float2(colour.g, 0.5)).g,
                    tex2D(LookupTexture, float2(colour.b, 0.5)).b);
#endif
#endif
#ifdef OUTLINES
    float4 outline = tex2D(OutlineTexture, i.uv);
    colour = lerp(colour, outline.rgb, outline.a * OutlineParams.x);
#endif
    colour *= ColorFactor.rgb;
#ifdef LUM_IN_ALPHA
    return float4(colour, dot(colour, float3(0.299, 0.587, 0.114)));
#else
    return float4(colour, scene.a);
#endif
}
