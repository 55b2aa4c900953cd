// Radial blur towards the centre of the picture, applied twice in one pass. One
// application mixes the source with the mean of eight samples along the line to the
// centre (offsets 0..7 steps); applying it to its own result reads offsets 0..14 steps
// (the product of two such offsets is within a fraction of a pixel of their sum at the
// step sizes used), each with the weight of all the ways it arises, which the CPU works
// out. One pass saves a full-screen write and read, and rounds the picture once.
//
// One block for both stages (their registers overlap). Vertex: c0 (W / w, H / h,
// 0.5 / w, 0.5 / h), c1.x the step towards the centre per sample (strength x scale x
// -0.005). Pixel: c0-c3 the weights of offsets 0..14 (c3.w 0).
float4 Constants[4] : register(c0);
sampler2D SourceTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float2 uv : TEXCOORD0;
    float2 delta : TEXCOORD1;
};

VertexOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    VertexOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    o.uv = uv * Constants[0].xy + Constants[0].zw;
    float2 centre = 0.5 * Constants[0].xy + Constants[0].zw;
    o.delta = (o.uv - centre) * Constants[1].x;
    return o;
}

#define TAP(k, w) tex2D(SourceTexture, i.uv + i.delta * k) * w

float4 pixel(VertexOut i) : COLOR0
{
    float4 sum = TAP(0.0, Constants[0].x) + TAP(1.0, Constants[0].y) + TAP(2.0, Constants[0].z) + TAP(3.0, Constants[0].w);
    sum += TAP(4.0, Constants[1].x) + TAP(5.0, Constants[1].y) + TAP(6.0, Constants[1].z) + TAP(7.0, Constants[1].w);
    sum += TAP(8.0, Constants[2].x) + TAP(9.0, Constants[2].y) + TAP(10.0, Constants[2].z) + TAP(11.0, Constants[2].w);
    sum += TAP(12.0, Constants[3].x) + TAP(13.0, Constants[3].y) + TAP(14.0, Constants[3].z);
    return sum;
}
