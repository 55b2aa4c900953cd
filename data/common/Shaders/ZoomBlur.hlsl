// Radial blur towards the centre of the picture: eight samples along the line to the
// centre, mixed with the source.
//
// One block for both stages (their registers overlap). Vertex: c0 (W / w, H / h,
// 0.5 / w, 0.5 / h), c1.x the step towards the centre per sample (strength x scale x
// -0.005). Pixel: c0 (blurred ratio, source ratio, 0, 0).
float4 Constants[2] : register(c0);
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

float4 pixel(VertexOut i) : COLOR0
{
    float4 source = tex2D(SourceTexture, i.uv);
    float4 sum = source;
    for (int k = 1; k < 8; ++k)
        sum += tex2D(SourceTexture, i.uv + i.delta * k);
    return sum * (Constants[0].x / 8.0) + source * Constants[0].y;
}
