// One direction of the 13-tap separable Gaussian blur, read with 7 fetches: each pair of
// taps (1, 2), (3, 4), (5, 6) is one bilinear fetch between them.
//
// The quad comes from memory with its final texture coordinates. One block for both
// stages (their registers overlap). Vertex: c0 (pass width / w, pass height / h,
// 0.5 / w, 0.5 / h), c1 the step of one texel in texture units (x or y), c2
// (-o56, -o34, -o12, -), c3 (o12, o34, o56, -) the pair offsets in texels. Pixel: c0 the
// largest texture coordinates inside the pass area, c1 (p56, p34, p12, centre weight).
float4 Constants[4] : register(c0);
sampler2D SourceTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float2 uv : TEXCOORD0;
    float4 minus : TEXCOORD1;    // taps -56 (xy) and -34 (zw)
    float4 plus : TEXCOORD2;     // taps +34 (xy) and +56 (zw)
    float4 nearPair : TEXCOORD3;     // taps -12 (xy) and +12 (zw)
};

VertexOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    VertexOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    float2 texelStep = Constants[1].xy;
    o.uv = uv;
    o.minus = float4(uv + texelStep * Constants[2].x, uv + texelStep * Constants[2].y);
    o.plus = float4(uv + texelStep * Constants[3].y, uv + texelStep * Constants[3].z);
    o.nearPair = float4(uv + texelStep * Constants[2].z, uv + texelStep * Constants[3].x);
    return o;
}

float4 Tap(float2 uv)
{
    return tex2D(SourceTexture, min(uv, Constants[0].xy));
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 weights = Constants[1];
    float4 sum = Tap(i.uv) * weights.w;
    sum += (Tap(i.nearPair.xy) + Tap(i.nearPair.zw)) * weights.z;
    sum += (Tap(i.minus.zw) + Tap(i.plus.xy)) * weights.y;
    sum += (Tap(i.minus.xy) + Tap(i.plus.zw)) * weights.x;
    return sum;
}
