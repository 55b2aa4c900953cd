// The scene's luminance at quarter size (four taps), exposed and through the tone curve:
// the local average the composite's local contrast compares each pixel with. Only alpha
// is written, into the glow's cell, so the composite reads both with one filtered read.
//
// One block for both stages (their registers overlap). Vertex: c0 (1, 1, 2 / w, 2 / h),
// c1 (1 / w, 1 / h, -1 / w, 1 / h), as the glow source. Pixel: c0 the exposition in every
// component.
float4 Constants[2] : register(c0);
sampler2D SceneTexture : register(s0);
sampler2D ToneCurveTexture : register(s1);

struct VertexOut
{
    float4 position : POSITION;
    float2 uv0 : TEXCOORD0;
    float2 uv1 : TEXCOORD1;
    float2 uv2 : TEXCOORD2;
    float2 uv3 : TEXCOORD3;
};

VertexOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    VertexOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    float2 centre = uv * Constants[0].xy + Constants[0].zw;
    o.uv0 = centre - Constants[1].xy;
    o.uv1 = centre - Constants[1].zw;
    o.uv2 = centre + Constants[1].zw;
    o.uv3 = centre + Constants[1].xy;
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    const float3 luma = float3(0.2126, 0.7152, 0.0722);
    float3 colour = (tex2D(SceneTexture, i.uv0).rgb + tex2D(SceneTexture, i.uv1).rgb +
                     tex2D(SceneTexture, i.uv2).rgb + tex2D(SceneTexture, i.uv3).rgb) * 0.25;
    float y = max(dot(colour, luma) * Constants[0].x, 0.0);
    // The tone curve's texel of y: its texels are gamma-mapped over 0..4, and the curve
    // works on the sRGB-encoded input, as the composite's table reads it.
    float encoded = y <= 0.0031308 ? y * 12.92 : 1.055 * pow(y, 1.0 / 2.4) - 0.055;
    float toned = tex2D(ToneCurveTexture, float2(pow(encoded, 2.2) * 0.25 + 0.5 / 1024.0, 0.5)).g;
    return float4(toned, toned, toned, toned);
}
