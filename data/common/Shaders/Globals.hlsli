// Engine-wide shader constants, set by the renderer after every camera change.
#ifndef GLOBALS_HLSLI
#define GLOBALS_HLSLI

// Every declaration here is in both stages' constant tables, so all of them lie below
// ps_3_0's 224 pixel registers. The renderer also writes the frame times and the depth
// terms to pixel c247 and c248, the frame times to vertex c247 and the scene's global
// vector to vertex c249: a pixel shader reads the in-range copies (c216, c217), and a
// vertex shader that reads the frame times or the global vector declares it itself.

// Pixel stage.
float4 HalfTexelAndProjection : register(c218);   // (0.5/w, 0.5/h, (0.5/w - 1) P00, (0.5/h + 1) P11)
float4 ProjectionTerms : register(c219);          // (P00, P11, P23, P33)
float4 SceneParameters : register(c220);
float4 ViewCornerA : register(c221);
float4 ViewCornerB : register(c222);
float4 ScreenTexel : register(c223);              // (1/w, 1/h, 2 P00 / w, -2 P11 / h)
float4 FrameTimes : register(c216);               // (two clock times of the frame in seconds, 0, 0)
float4 DepthParams : register(c217);              // (depth scale, 0, 1 / (range x depth scale), 0)

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
