// Depth-aware blur of the occlusion term along one axis; the final pass multiplies the
// light buffer (sampler 1) by the occlusion, tinted by the occlusion colour.
#include "Globals.hlsli"

// One block for both stages (their registers overlap). Vertex: c0 the quad's
// texture-coordinate scale and half texel. Pixel: c0 the step in texture units (x or y)
// and the decrease with lighting in z; c1 (1 - the occlusion colour); c2 (the colour, 1).
float4 Constants[3] : register(c0);
#define BlurStep Constants[0]
#define InverseColour Constants[1]
#define Colour Constants[2]
sampler2D OcclusionTexture : register(s0);
sampler2D LightTexture : register(s1);

struct QuadOut
{
    float4 position : POSITION;
    float2 uv : TEXCOORD0;
};

QuadOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    QuadOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    o.uv = uv * Constants[0].xy + Constants[0].zw;
    return o;
}

float4 pixel(QuadOut i) : COLOR0
{
    float2 centre = tex2D(OcclusionTexture, i.uv).rg;
    float sum = 0.0;
    float weight = 0.0;
    for (int k = -3; k <= 3; ++k)
    {
        float2 s = tex2D(OcclusionTexture, i.uv + BlurStep.xy * k).rg;
        float w = 1.0 / (1.0 + abs(s.g - centre.g) * 64.0);
        sum += s.r * w;
        weight += w;
    }
    float ao = sum / weight;
#ifdef FINAL_PASS
    float4 light = tex2D(LightTexture, i.uv);
    float brightness = dot(light.rgb, float3(0.2126, 0.7152, 0.0722));
    ao = lerp(ao, 1.0, saturate(brightness * BlurStep.z));
    float3 tint = Colour.rgb + InverseColour.rgb * ao;
    return float4(light.rgb * tint, light.a * ao);
#else
    return float4(ao, centre.g, 0.0, 1.0);
#endif
}
