// Screen-space ambient occlusion: the share of eight kernel points around each pixel
// that lie in front of it, from the depth source (sampler 10).
#include "GBuffer.hlsli"

// One block for both stages (their registers overlap). Vertex: c0 the quad's
// texture-coordinate scale and half texel. Pixel: c0 (r, r², the kernel scale (r
// clamped to 1..20), the intensity term); c1-c3 the renderer's reconstruction constants
// (c223, c218, c219); c4-c11 the kernel points (x Q0, y Q1, x Q2, y Q3) x the kernel scale.
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
#endif
    float occlusion = 0.0;
    for (int k = 0; k < 8; ++k)
    {
        // Offsets in texels, shrinking with distance.
        float2 offset = Constants[4 + k].xy / max(depth * Constants[1].zw * float2(1.0, -1.0), 1e-4) * Constants[1].xy;
        float2 uv = i.uv + offset * Radius.z / max(depth, 1e-4);
        float3 p = ViewPositionAt(uv, ReadLinearDepth(uv));
        float3 v = p - centre;
        float d2 = dot(v, v);
        float facing = saturate(dot(normal, v) * rsqrt(max(d2, 1e-6)));
        occlusion += facing * saturate(1.0 - d2 * Radius.w);
    }
    float ao = saturate(1.0 - occlusion / 8.0 * saturate(Radius.y * Radius.w * 64.0));
    return float4(ao, depth / DepthParams.x, 0.0, 1.0);
}
