// The route ribbon: one instance of the shared quad per route segment. Stream 0 holds
// the quad's corner (x along the segment, y across it, 0 or 1 each), stream 1 one record
// per segment: both end points quantised into the box (xyz, normalised 16-bit) with the
// route length to each in w (length x 2.5 / 32767), the side bytes of both ends (x, z of
// the start; x, z of the end) and the marker bytes of both ends (distance to the nearest
// marked point / 40 units).
//
// Vertex registers: c128 (width, mapping factor, squad distance, signal head), the last
// two in the records' length unit; c129 and c130 the box minimum and maximum. Pixel c0:
// the signal colour.
row_major float4x4 ModelViewProjMatrix;
float4 ConstantColor;
float4 RibbonParams : register(c128);
float4 BoxMin : register(c129);
float4 BoxMax : register(c130);
float4 SignalColor : register(c0);

sampler2D RibbonTexture : register(s0);

// World units per length unit of the records.
#define LENGTH_UNITS 13106.8
// Length of the signal's glowing tail, in world units.
#define SIGNAL_TAIL 16.0
// Half the gap the ribbon leaves at a marked point, in world units.
#define MARKER_GAP 1.0

struct VertexOut
{
    float4 position : POSITION;
    float4 colour : COLOR0;
    float4 uv : TEXCOORD0;       // across, along x mapping factor
    float4 route : TEXCOORD1;    // world units behind the signal head, marker distance
};

VertexOut vertex(float4 corner : BLENDWEIGHT, float4 start : POSITION, float4 end : NORMAL, float4 sides : COLOR0,
                 float4 markers : COLOR1)
{
    VertexOut o;
    float3 size = BoxMax.xyz - BoxMin.xyz;
    float3 a = BoxMin.xyz + start.xyz * size;
    float3 b = BoxMin.xyz + end.xyz * size;
    float2 side = lerp(sides.xy, sides.zw, corner.x) * 2.0 - 1.0;
    float3 position = lerp(a, b, corner.x) + float3(side.x, 0.0, side.y) * ((corner.y - 0.5) * RibbonParams.x);
    float along = lerp(start.w, end.w, corner.x);
    o.position = mul(float4(position, 1.0), ModelViewProjMatrix);
    o.colour = ConstantColor;
    o.uv = float4(corner.y, along * RibbonParams.y, 0.0, 0.0);
    o.route = float4((RibbonParams.w - along) * LENGTH_UNITS, lerp(markers.x, markers.y, corner.x) * 40.0, 0.0, 0.0);
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 texel = tex2D(RibbonTexture, i.uv.xy);
    float4 result = texel * i.colour;
    // The signal: brightest just behind its head, fading over its tail.
    float behind = i.route.x;
    float glow = saturate(1.0 - abs(behind - 0.5 * SIGNAL_TAIL) / (0.5 * SIGNAL_TAIL));
    result.rgb += SignalColor.rgb * (glow * texel.a);
    // A gap at each marked segment boundary.
    result.a *= saturate((i.route.y - MARKER_GAP) * 2.0);
    return result;
}
