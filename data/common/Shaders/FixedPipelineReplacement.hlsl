// Stand-in for the fixed-function pipeline: UI quads, debug geometry, the profiler
// overlay, videos, textured screen copies and effect quads (frame atlases, soft edges
// and refraction).
#include "Globals.hlsli"
// The bone registers (c0 on) are declared except in the effect quads' variants, whose
// pixel stage has its own constants from c0.
#if defined(SKINNING) || !(defined(TEXTURE_ANIMATION) || defined(REFRACTION))
#include "Skinning.hlsli"
#endif

row_major float4x4 ModelViewProjMatrix;
float4 ConstantColor;
float4 Saturation;
sampler2D DiffuseTexture : register(s0);
sampler2D ChromaTexture : register(s1);
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
    o.uv = uv;
    o.nextUV = uv;
#ifdef TEXTURE_ANIMATION
    o.uv = uv * FrameSize.xy + FrameOffsets.xy;
    o.nextUV = uv * FrameSize.zw + FrameOffsets.zw;
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
    float luma = tex2D(DiffuseTexture, i.uv).r;
    float2 chroma = tex2D(ChromaTexture, i.uv).rg - 0.5;
    result = float4(luma + 1.402 * chroma.y, luma - 0.344 * chroma.x - 0.714 * chroma.y, luma + 1.772 * chroma.x, 1.0) * i.colour;
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
