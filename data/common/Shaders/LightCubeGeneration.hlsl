// Adds one light's ambient contribution to a face of the ambient cube. The renderer draws
// a full-face quad per light and face with additive results into the cleared face.
#include "Globals.hlsli"

// Registers c0 to c4 hold the face frame for the vertex stage and the light for the pixel
// stage; one array declares them for both.
float4 StageConstants[5] : register(c0);
// Vertex stage: the face's frame (a, b, a x b).
#define FaceAxisA StageConstants[0]
#define FaceAxisB StageConstants[1]
#define FaceAxisC StageConstants[2]
// Pixel stage: the light.
#define LightDirection StageConstants[0]  // unit direction
#define FirstColor StageConstants[1]      // lit side, x 0.25
#define SecondColor StageConstants[2]     // far side, x 0.25 (zero for kind 0)
#define ConstantColor StageConstants[3]   // blended constant term
#define LightScalars StageConstants[4]    // the light's two scalars
row_major float4x4 MaskMatrix : register(c10);
sampler2D MaskTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float3 direction : TEXCOORD0;
};

VertexOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    VertexOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    // The face's centre lies along a; the quad spans the two other axes.
    o.direction = FaceAxisA.xyz + position.x * FaceAxisC.xyz + position.y * FaceAxisB.xyz;
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    float3 n = normalize(i.direction);
    float d = dot(n, -LightDirection.xyz);
    float lit = pow(saturate((d + LightScalars.x) / (1.0 + LightScalars.x)), max(LightScalars.y, 0.0001));
    float back = pow(saturate((-d + LightScalars.x) / (1.0 + LightScalars.x)), max(LightScalars.y, 0.0001));
    float3 colour = lit * FirstColor.rgb + back * SecondColor.rgb + ConstantColor.rgb;
#ifdef MASK
    float3 m = mul(float4(n, 0.0), MaskMatrix).xyz;
    colour *= tex2D(MaskTexture, m.xy * 0.5 + 0.5).r;
#endif
    return float4(colour, 1.0);
}
