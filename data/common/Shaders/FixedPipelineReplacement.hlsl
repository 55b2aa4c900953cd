// Stand-in for the fixed-function pipeline: UI quads, debug geometry, the profiler
// overlay, videos, textured screen copies and effect quads (frame atlases, soft edges
// and refraction).
#include "Globals.hlsli"
// The skinning palette holds vertex c0-c191 (the engine keeps the other constants above
// it). It is declared except in the variants whose pixel stage has its own constants from
// c0: the saturation (pixel c4; pixel variants only) and the effect quads (c0-c2).
#if defined(SKINNING) || !(defined(SATURATION) || defined(TEXTURE_ANIMATION) || defined(REFRACTION))
#include "Skinning.hlsli"
#endif
#include "VideoColor.hlsli"

row_major float4x4 ModelViewProjMatrix;
float4 ConstantColor;
// The UI's screen quads: texture scale and offset (vertex c195/c196; the effect quads'
// frame atlas uses the same registers) and the saturation (pixel c4).
#ifndef TEXTURE_ANIMATION
float4 UITextureScale : register(c195);
float4 UITextureOffset : register(c196);
#endif
#ifdef SATURATION
float4 Saturation : register(c4);
#endif
sampler2D DiffuseTexture : register(s0);
#ifdef VIDEO
sampler2D VideoPlaneY : register(s1);
sampler2D VideoPlaneU : register(s2);
sampler2D VideoPlaneV : register(s3);
#endif
#ifdef TEXTURE_ANIMATION
// The atlas frame size (1/X, 1/Y, 1/X, 1/Y) and the current and next frames' offsets.
float4 FrameSize : register(c195);
float4 FrameOffsets : register(c196);
#endif
// Pixel constants of effect quads: x the blend towards the next frame; the refraction
// power and granularity; the blending row refraction emulates.
#if defined(TEXTURE_ANIMATION) && !defined(SKINNING)
float4 FrameBlend : register(c0);  // pixel stage (skinning is vertex only)
#endif
#ifdef REFRACTION
float4 RefractionParams : register(c1);
float4 RefractionBlend : register(c2);
#endif

struct VertexOut
{
    float4 position : POSITION;
    float4 colour : COLOR0;
    float2 uv : TEXCOORD0;
    float4 screen : TEXCOORD1;
    float2 nextUV : TEXCOORD2;
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
    o.nextUV = uv;
#if defined(TEXTURE_ANIMATION)
    o.uv = uv * FrameSize.xy + FrameOffsets.xy;
    o.nextUV = uv * FrameSize.zw + FrameOffsets.zw;
#elif defined(TEXTURE) && !defined(SCREEN_UV)
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
#if defined(TEXTURE_ANIMATION) && !defined(SKINNING)
    texel = lerp(texel, tex2D(DiffuseTexture, i.nextUV), FrameBlend.x);
#endif
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
#ifdef SOFTNESS
    float2 depthUV = i.screen.xy / i.screen.w * float2(0.5, -0.5) + 0.5;
    result.a *= saturate((ReadLinearDepth(depthUV) - i.screen.w) * 0.5);
#endif
#ifdef REFRACTION
    // The scene behind, shifted by the texel's colour, stands in for the blended quad.
    float2 sceneUV = i.screen.xy / i.screen.w * float2(0.5, -0.5) + 0.5;
    float2 shift = (result.rg - 0.5) * RefractionParams.x * result.a;
    float3 behind = tex2D(RefractionTexture, sceneUV + shift * RefractionParams.y).rgb;
    result = float4(lerp(behind, behind + result.rgb * RefractionBlend.x, result.a), 1.0);
#endif
#ifdef CONVERT_TO_SRGB
    result.rgb = sqrt(saturate(result.rgb));
#endif
    return result;
}
