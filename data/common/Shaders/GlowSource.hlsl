// Bright pass of the glow: the scene colour above the threshold, averaged over four taps
// into a quarter-size cell of light buffer A.
//
// One block for both stages (their registers overlap). Vertex: c0 (1, 1, 2 / w, 2 / h)
// the texture-coordinate scale and offset, c1 (1 / w, 1 / h, -1 / w, 1 / h) the tap
// spread. Pixel: c0 the glow threshold in every component.
float4 Constants[2] : register(c0);
sampler2D SceneTexture : register(s0);

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
    float3 colour = (tex2D(SceneTexture, i.uv0).rgb + tex2D(SceneTexture, i.uv1).rgb +
                     tex2D(SceneTexture, i.uv2).rgb + tex2D(SceneTexture, i.uv3).rgb) * 0.25;
    return float4(max(colour - Constants[0].rgb, 0.0), 1.0);
}
