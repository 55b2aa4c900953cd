// Pulls the red and blue channels apart: red from uv + c0.xy, green in place, blue from
// uv - c0.xy.
//
// One block for both stages (their registers overlap). Vertex: c0 (W / w, H / h,
// 0.5 / w, 0.5 / h). Pixel: c0 (d / w, d / h, 0, 0), the shift of d pixels.
float4 Constants[1] : register(c0);
sampler2D SourceTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float2 uv : TEXCOORD0;
};

VertexOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    VertexOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    o.uv = uv * Constants[0].xy + Constants[0].zw;
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 c = tex2D(SourceTexture, i.uv);
    c.r = tex2D(SourceTexture, i.uv + Constants[0].xy).r;
    c.b = tex2D(SourceTexture, i.uv - Constants[0].xy).b;
    return c;
}
