// Radial blur towards the centre of the picture, applied twice in one pass. One
// application mixes the source with the mean of eight samples along the line to the
// centre (offsets 0..7 steps); applying it to its own result reads offsets 0..14 steps
// (the product of two such offsets is within a fraction of a pixel of their sum at the
// step sizes used), each with the weight of all the ways it arises. One pass saves a
// full-screen write and read, and rounds the picture once.
// Offset 0 is read alone (it carries the sharp source); each pair of neighbours (1, 2),
// (3, 4) .. (13, 14) is one filtered read between them, placed by their weights (the
// filtered picture is close to linear over the span of one step). The CPU works out the
// places and weights.
//
// One block for both stages (their registers overlap). Vertex: c0 (W / w, H / h,
// 0.5 / w, 0.5 / h), c1.x the step towards the centre per sample (strength x scale x
// -0.005). Pixel: c0, c1 the places of the eight reads in steps (c0.x 0), c2, c3 their
// weights.
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
    float4 sum = TAP(Constants[0].x, Constants[2].x) + TAP(Constants[0].y, Constants[2].y) +
                 TAP(Constants[0].z, Constants[2].z) + TAP(Constants[0].w, Constants[2].w);
    sum += TAP(Constants[1].x, Constants[3].x) + TAP(Constants[1].y, Constants[3].y) +
           TAP(Constants[1].z, Constants[3].z) + TAP(Constants[1].w, Constants[3].w);
    return sum;
}
