// Engine-wide shader constants, set by the renderer after every camera change.
#ifndef GLOBALS_HLSLI
#define GLOBALS_HLSLI

// Vertex stage.
float4 SceneGlobalVector : register(c249);

// Pixel stage.
float4 HalfTexelAndProjection : register(c218);   // (0.5/w, 0.5/h, (0.5/w - 1) P00, (0.5/h + 1) P11)
float4 ProjectionTerms : register(c219);          // (P00, P11, P23, P33)
float4 SceneParameters : register(c220);
float4 ViewCornerA : register(c221);
float4 ViewCornerB : register(c222);
float4 ScreenTexel : register(c223);              // (1/w, 1/h, 2 P00 / w, -2 P11 / h)
float4 FrameTimes : register(c247);
float4 DepthParams : register(c248);              // (depth scale, 0, 1 / (range x depth scale), 0)

sampler2D GlobalTexture : register(s8);
sampler2D RefractionTexture : register(s9);
sampler2D DepthTexture : register(s10);

// Linear view depth at a screen position: the hardware depth texture when the device
// reads one (RAWZ packs it into the colour channels), else the linear-depth target.
float ReadLinearDepth(float2 uv)
{
#ifdef HARDWARE_DEPTH
#ifdef HARDWARE_DEPTH_RAWZ
    float3 raw = tex2D(DepthTexture, uv).arg;
    float z = dot(floor(raw * 255.0 + 0.5), float3(0.996093809371817670572857294849, 0.0038909914428586627756752238080039, 1.5199185323666651467481343000015e-5) / 255.0);
#else
    float z = tex2D(DepthTexture, uv).r;
#endif
    // The inverse projection's third and fourth columns: view w = z P23 + P33, depth = 1 / w.
    return DepthParams.x / (z * ProjectionTerms.z + ProjectionTerms.w);
#else
    return tex2D(DepthTexture, uv).r * DepthParams.x;
#endif
}

#endif
