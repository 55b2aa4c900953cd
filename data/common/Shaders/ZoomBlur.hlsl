// Radial blur towards a centre point, in two passes of eight samples.
#include "Globals.hlsli"
#include "FullScreenQuad.hlsli"

float4 ZoomCentre;        // centre (x, y), strength
sampler2D SourceTexture : register(s0);

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    return QuadVertex(position, uv);
}

float4 pixel(QuadOut i) : COLOR0
{
    float2 step = (ZoomCentre.xy - i.uv) * ZoomCentre.z / 8.0;
    float4 sum = float4(0.0, 0.0, 0.0, 0.0);
    for (int k = 0; k < 8; ++k)
        sum += tex2D(SourceTexture, i.uv + step * k);
    return sum / 8.0;
}
