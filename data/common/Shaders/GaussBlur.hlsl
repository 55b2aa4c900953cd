// One direction of a separable Gaussian blur (the direction in BlurStep).
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 BlurStep;
sampler2D SourceTexture : register(s0);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    const float weights[5] = {0.227027, 0.1945946, 0.1216216, 0.054054, 0.016216};
    float4 sum = tex2D(SourceTexture, i.uv) * weights[0];
    for (int k = 1; k < 5; ++k)
    {
        sum += tex2D(SourceTexture, i.uv + BlurStep.xy * k) * weights[k];
        sum += tex2D(SourceTexture, i.uv - BlurStep.xy * k) * weights[k];
    }
    return sum;
}
