// The full-screen video picture: the Y, U and V planes on samplers 0-2, drawn on the
// full-screen quad scaled to keep the picture's aspect.
// c0 = (1, 1, half a screen texel in x, in y); c1 = (quad scale in x, in y, 0, 0).
#include "Globals.hlsli"
#include "VideoColor.hlsli"

float4 QuadParams : register(c0);
float4 QuadScale : register(c1);

sampler2D PlaneY : register(s0);
sampler2D PlaneU : register(s1);
sampler2D PlaneV : register(s2);

struct VideoOut
{
    float4 position : POSITION;
    float2 uv : TEXCOORD0;
};

VideoOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    VideoOut o;
    o.position = float4(position.xy * QuadScale.xy, 0.0, 1.0);
    o.uv = uv * QuadParams.xy + QuadParams.zw;
    return o;
}

float4 pixel(VideoOut i) : COLOR0
{
    return float4(VideoYCbCrToRgb(tex2D(PlaneY, i.uv).r, tex2D(PlaneU, i.uv).r, tex2D(PlaneV, i.uv).r), 1.0);
}
