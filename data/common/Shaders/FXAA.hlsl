// Edge anti-aliasing of the final picture (gamma space), the console variant of FXAA
// 3.11: the luminance comes from the alpha channel (the composite's "LUM_IN_ALPHA"),
// the edge direction from four diagonal taps, and the pixel is replaced by a blend along
// the edge where the local contrast reaches the threshold.
//
// One block for both stages (their registers overlap). Vertex: c0 (W / w, H / h,
// 0.5 / w, 0.5 / h). Pixel, in FXAA 3.11's parameter layout: c0 (1 / w, 1 / h, 0, 0);
// c1 (-N / w, -N / h, N / w, N / h); c2 (-2 / w, -2 / h, 2 / w, 2 / h); c3 (8 / w, 8 / h,
// -4 / w, -4 / h); c4 (1, -1, 0.25, -0.25); c5 (subpix, edge threshold, threshold min,
// 0); c6 (N, console edge threshold, console threshold min, 0).
float4 Constants[7] : register(c0);
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
    float2 texel = Constants[0].xy;
    float2 halfTexel = texel * 0.5;
    float lumaNw = tex2D(SourceTexture, i.uv + float2(-halfTexel.x, -halfTexel.y)).a;
    float lumaSw = tex2D(SourceTexture, i.uv + float2(-halfTexel.x, halfTexel.y)).a;
    float lumaNe = tex2D(SourceTexture, i.uv + float2(halfTexel.x, -halfTexel.y)).a;
    float lumaSe = tex2D(SourceTexture, i.uv + float2(halfTexel.x, halfTexel.y)).a;
    float4 rgbyM = tex2D(SourceTexture, i.uv);
    float lumaM = rgbyM.a;

    float lumaMax = max(max(lumaNw, lumaSw), max(lumaNe, lumaSe));
    float lumaMin = min(min(lumaNw, lumaSw), min(lumaNe, lumaSe));
    float lumaMaxM = max(lumaMax, lumaM);
    float lumaMinM = min(lumaMin, lumaM);
    float threshold = max(Constants[6].z, lumaMax * Constants[6].y);

    float dirSwMinusNe = lumaSw - lumaNe;
    float dirSeMinusNw = lumaSe - lumaNw;
    float2 dir = float2(dirSwMinusNe + dirSeMinusNw, dirSwMinusNe - dirSeMinusNw);
    float2 dir1 = normalize(dir + float2(1e-6, 1e-6));
    float4 rgbyN1 = tex2D(SourceTexture, i.uv - dir1 * Constants[1].zw);
    float4 rgbyP1 = tex2D(SourceTexture, i.uv + dir1 * Constants[1].zw);

    float dirAbsMinTimesC = min(abs(dir1.x), abs(dir1.y)) * 8.0;
    float2 dir2 = clamp(dir1 / max(dirAbsMinTimesC, 1e-6), -2.0, 2.0);
    float4 rgbyN2 = tex2D(SourceTexture, i.uv - dir2 * Constants[2].zw);
    float4 rgbyP2 = tex2D(SourceTexture, i.uv + dir2 * Constants[2].zw);

    float4 rgbyA = rgbyN1 + rgbyP1;
    float4 rgbyB = (rgbyN2 + rgbyP2) * 0.25 + rgbyA * 0.25;
    float3 blended = (rgbyB.a < lumaMin || rgbyB.a > lumaMax) ? rgbyA.rgb * 0.5 : rgbyB.rgb;
    // Below the threshold the pixel stays. Chosen, not branched: a software rasteriser
    // runs both sides of a branch anyway and pays for the branch besides.
    return lumaMaxM - lumaMinM < threshold ? rgbyM : float4(blended, lumaM);
}
