// Graph ribbons and arrows. The batch buffers hold corner indices only; the records come
// in vertex constants from c0: straight segments two vectors each (start, end; w the
// travelled distance), curve segments four (Catmull-Rom points P0..P3; w of P0 and P3 the
// distances at the segment's ends), arrows two (position, direction). c128 holds
// (width, 1 / mapping size, 0, 0). The ribbon lies flat, widened across its direction in
// the ground plane; its texture runs along the travelled distance.

row_major float4x4 ModelViewProjMatrix;
float4 ConstantColor;
float4 Records[64] : register(c0);
float4 RibbonParams : register(c128);

sampler2D RibbonTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float4 colour : COLOR0;
    float2 uv : TEXCOORD0;
};

float3 Across(float3 direction)
{
    float3 side = cross(float3(0.0, 1.0, 0.0), direction);
    float len = length(side);
    return len > 0.0 ? side / len : float3(1.0, 0.0, 0.0);
}

float4 CatmullRom(float t, float4 p0, float4 p1, float4 p2, float4 p3)
{
    float t2 = t * t;
    float t3 = t2 * t;
    return 0.5 * (2.0 * p1 + (p2 - p0) * t + (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3) * t2 +
                  (3.0 * p1 - p0 - 3.0 * p2 + p3) * t3);
}

float4 CatmullRomTangent(float t, float4 p0, float4 p1, float4 p2, float4 p3)
{
    return 0.5 * ((p2 - p0) + (4.0 * p0 - 10.0 * p1 + 8.0 * p2 - 2.0 * p3) * t +
                  (9.0 * p1 - 3.0 * p0 - 9.0 * p2 + 3.0 * p3) * (t * t));
}

// corner.x: across (-0.5 or 0.5, the arrow's -1, 0, 1); corner.y: along (0 or 1 for a
// straight segment, the strip point 0..63 of a curve, 0 or 1 for an arrow); corner.z: the
// record's slot in the batch.
VertexOut vertex(float3 corner : POSITION)
{
    VertexOut o;
    int slot = (int)corner.z;
    float3 position;
    float along;
#if defined(ARROW)
    float3 at = Records[2 * slot].xyz;
    float3 direction = Records[2 * slot + 1].xyz;
    float3 side = Across(direction) * RibbonParams.x;
    position = at + direction * (corner.y * RibbonParams.x) + side * (corner.x * (1.0 - corner.y));
    along = 0.0;
#elif defined(CATMULL_ROM)
    float4 p0 = Records[4 * slot];
    float4 p1 = Records[4 * slot + 1];
    float4 p2 = Records[4 * slot + 2];
    float4 p3 = Records[4 * slot + 3];
    float t = corner.y / 63.0;
    float4 onCurve = CatmullRom(t, p0, p1, p2, p3);
    float3 side = Across(CatmullRomTangent(t, p0, p1, p2, p3).xyz);
    position = onCurve.xyz + side * (corner.x * RibbonParams.x);
    along = lerp(p0.w, p3.w, t);
#else
    float4 start = Records[2 * slot];
    float4 end = Records[2 * slot + 1];
    float3 side = Across(end.xyz - start.xyz);
    position = lerp(start.xyz, end.xyz, corner.y) + side * (corner.x * RibbonParams.x);
    along = lerp(start.w, end.w, corner.y);
#endif
    o.position = mul(float4(position, 1.0), ModelViewProjMatrix);
    o.colour = ConstantColor;
    o.uv = float2(corner.x + 0.5, along * RibbonParams.y);
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
#ifdef TEXTURE
    return i.colour * tex2D(RibbonTexture, i.uv);
#else
    return i.colour;
#endif
}
