// Screen-space ambient occlusion: the share of eight kernel points around each pixel
// that lie in front of it, from the depth source (sampler 10).
#include "GBuffer.hlsli"

// One block for both stages (their registers overlap). Vertex: c0 the quad's
// texture-coordinate scale and half texel. Pixel: c0 (r, r², the kernel scale (r
// clamped to 1..20), the intensity term); c1-c3 the renderer's reconstruction constants
// (c223, c218, c219); c4-c11 the kernel points (x Q0, y Q1, x Q2, y Q3) x the kernel scale,
// Q being c223: xy the point in texture units, zw its view-space offset per unit depth.
float4 Constants[12] : register(c0);
#define Radius Constants[0]
sampler2D NormalTexture : register(s0);

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
    float depth = ReadLinearDepth(i.uv);
    float3 centre = ViewPositionAt(i.uv, depth);
#ifdef USE_NORMAL_MAPS
    float3 normal = DecodeViewNormal(tex2D(NormalTexture, i.uv));
#else
    float3 normal = normalize(cross(ddx(centre), ddy(centre)));
    if (dot(normal, centre) > 0.0)
        normal = -normal;
#endif
    float occlusion = 0.0;
    for (int k = 0; k < 8; ++k)
    {
        // The kernel point: rc pixels at most from the centre, in texture units, at the
        // centre of its texel so that its position and its depth belong together.
        float2 uv = (floor((i.uv + Constants[4 + k].xy) / Constants[1].xy) + 0.5) * Constants[1].xy;
        float3 p = ViewPositionAt(uv, ReadLinearDepth(uv));
        float3 v = p - centre;
        float d2 = dot(v, v);
        float facing = saturate(dot(normal, v) * rsqrt(max(d2, 1e-6)));
        occlusion += facing * saturate(1.0 - d2 * Radius.w);
    }
    float ao = saturate(1.0 - occlusion / 8.0 * saturate(Radius.y * Radius.w * 64.0));
    return float4(ao, depth / DepthParams.x, 0.0, 1.0);
}
