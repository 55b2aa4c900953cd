// Stand-in for the fixed-function pipeline: UI quads, debug geometry, the profiler
// overlay, videos and textured screen copies.
#include "Globals.hlsli"
// The skinning palette holds vertex c0-c191 in every vertex variant (the engine keeps the
// other constants above it); the saturation's pixel c4 would overlap it, and the
// saturation variants are pixel variants only.
#ifndef SATURATION
#include "Skinning.hlsli"
#endif
#include "VideoColor.hlsli"

row_major float4x4 ModelViewProjMatrix;
float4 ConstantColor;
// The UI's screen quads: texture scale and offset (vertex c195/c196) and the saturation
// (pixel c4).
float4 UITextureScale : register(c195);
float4 UITextureOffset : register(c196);
#ifdef SATURATION
float4 Saturation : register(c4);
#endif
sampler2D DiffuseTexture : register(s0);
#ifdef VIDEO
sampler2D VideoPlaneY : register(s1);
sampler2D VideoPlaneU : register(s2);
sampler2D VideoPlaneV : register(s3);
#endif

struct VertexOut
{
    float4 position : POSITION;
    float4 colour : COLOR0;
    float2 uv : TEXCOORD0;
    float4 screen : TEXCOORD1;
};

VertexOut vertex(float4 position : POSITION, float4 colour : COLOR0, float2 uv : TEXCOORD0,
                 float4 weights : BLENDWEIGHT, float4 indices : BLENDINDICES)
{
    VertexOut o;
#ifdef SKINNING
    position = Skin(position, weights, indices);
#endif
#ifdef DENORMALIZATION
    colour = colour * 2.0 - 1.0;
#endif
    o.position = mul(position, ModelViewProjMatrix);
    o.colour = colour * ConstantColor;
#if defined(TEXTURE) && !defined(SCREEN_UV)
    o.uv = uv * UITextureScale.xy + UITextureOffset.xy;
#else
    o.uv = uv;
#endif
    o.screen = o.position;
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 result = i.colour;
#ifdef TEXTURE
    float2 uv = i.uv;
#ifdef SCREEN_UV
    uv = i.screen.xy / i.screen.w * float2(0.5, -0.5) + 0.5 + HalfTexelAndProjection.xy;
#endif
    float4 texel = tex2D(DiffuseTexture, uv);
#ifdef SCREEN_BLUR
    texel = 0.25 * (texel + tex2D(DiffuseTexture, uv + ScreenTexel.xy)
                          + tex2D(DiffuseTexture, uv - ScreenTexel.xy)
                          + tex2D(DiffuseTexture, uv + ScreenTexel.xy * float2(1.0, -1.0)));
#endif
#ifdef ALPHA_ONLY_TEXTURE
    texel = float4(1.0, 1.0, 1.0, texel.a);
#endif
#ifdef LINEAR_TEXTURES
    texel.rgb = texel.rgb * texel.rgb;
#endif
#ifdef SATURATION
    float grey = dot(texel.rgb, float3(0.299, 0.587, 0.114));
    texel.rgb = lerp(float3(grey, grey, grey), texel.rgb, Saturation.x);
#endif
    result *= texel;
#endif
#ifdef VIDEO
    result = float4(VideoYCbCrToRgb(tex2D(VideoPlaneY, i.uv).r, tex2D(VideoPlaneU, i.uv).r, tex2D(VideoPlaneV, i.uv).r), 1.0) * i.colour;
#endif
#ifdef FADE
    result.a *= i.colour.a;
#endif
#ifdef CONVERT_TO_SRGB
    result.rgb = sqrt(saturate(result.rgb));
#endif
    return result;
}
