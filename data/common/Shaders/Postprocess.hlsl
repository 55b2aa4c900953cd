// The final composite of the frame. Without "ENABLED" it is a plain copy of the scene
// colour. With it: glow, local contrast, exposition and sharpening in linear space, the
// tone curve and the colour lookup (one table the CPU makes of the two), saturation and
// contrast, the exclude colours, the top and bottom gradient, the cloud layer, the
// vignette, outlines and the colour factor.
// Sharpening is a variant of its own ("SHARPEN", chosen when its strength is not 0): a
// branch on a constant does not spare a software rasteriser the taps inside it.
//
// One block for both stages (their registers overlap).
// Vertex: c0 (W / w, H / h, 0.5 / w, 0.5 / h); c1 (quarter W / W, quarter H / H, 0.125 / w,
// 0.125 / h) for the glow cell; c2 (0.5 / w, 0.5 / h, 0.5 / w, -0.5 / h); c3 (2a, 2 / a,
// -a, -1 / a) of the vignette aspect a; c4, c5 the top and bottom colours; c6-c9 the
// camera's inverse view-projection; c10 the camera position; c11, c12 the layer
// projection's first two columns; c13 (layer scroll xyz, layer height); c14 the colour
// factor.
// Pixel: c0 the glow colour; c1 (-s / 2, o + s, saturation, contrast) of the vignette ramp;
// c2 (local contrast, low and high clamp of its ratio, 0); c3 the outline softness pair;
// c4, c5 the exclude colours; c6 their ramps (scales x 1 / sqrt 3, offsets); c7 (-0.5 / w,
// -0.5 / h, -sharpen strength, exposition); c8 the layer cloud colour; c9 the low-spec
// colour correction.
float4 Constants[15] : register(c0);
sampler2D SceneTexture : register(s0);
sampler2D GlowTexture : register(s1);
sampler2D OutlineTexture : register(s2);
sampler2D ToneLookupTexture : register(s3);
sampler2D CloudTexture : register(s5);

struct VertexOut
{
    float4 position : POSITION;
    float2 uv : TEXCOORD0;
    float2 glowUv : TEXCOORD1;
    float2 vignette : TEXCOORD2;
    float4 gradient : TEXCOORD3;
    float2 cloudUv : TEXCOORD4;
    float4 factor : TEXCOORD5;
};

VertexOut vertex(float4 position : POSITION, float2 uv : TEXCOORD0)
{
    VertexOut o;
    o.position = float4(position.xy, 0.0, 1.0);
    o.uv = uv * Constants[0].xy + Constants[0].zw;
    o.glowUv = uv * Constants[0].xy * Constants[1].xy + Constants[1].zw;
    o.vignette = uv * Constants[3].xy + Constants[3].zw;
    o.gradient = lerp(Constants[4], Constants[5], uv.y);
    // The far point under this corner, and where its ray from the camera meets the cloud
    // layer's height.
    float4 farPoint = float4(position.xy, 1.0, 1.0);
    float4 world = farPoint.x * Constants[6] + farPoint.y * Constants[7] + farPoint.z * Constants[8] + farPoint.w * Constants[9];
    world.xyz /= world.w;
    float3 ray = world.xyz - Constants[10].xyz;
    float t = abs(ray.y) > 1e-5 ? (Constants[13].w - Constants[10].y) / ray.y : 0.0;
    float4 onLayer = float4(Constants[10].xyz + ray * max(t, 0.0), 1.0);
    o.cloudUv = float2(dot(onLayer, Constants[11]), dot(onLayer, Constants[12])) + Constants[13].xy;
    o.factor = Constants[14];
    return o;
}

float Luminance(float3 c)
{
    return dot(c, float3(0.2126, 0.7152, 0.0722));
}

// The lookup table is read as stored (sRGB bytes) and converted here: a software
// rasteriser filters plain 8-bit texels far faster than converted ones, and neighbouring
// texels of the table are so close that converting after the filter differs by about one
// step of the stored bytes.
float3 SrgbDecode(float3 c)
{
    return c <= 0.04045 ? c * (1.0 / 12.92) : pow(c * (1.0 / 1.055) + 0.055 / 1.055, 2.4);
}

// The tone curve followed by the colour lookup, one table of 1024 texels: texel j for
// the linear input (j / 1023 x 2)^2 (4, where the tone curve's read ends, at the top).
// Beyond either end the clamped read stays on the end texel.
float3 ToneCurveAndLookup(float3 c)
{
    float3 u = sqrt(max(c, 0.0)) * (1023.0 / 1024.0 / 2.0) + 0.5 / 1024.0;
    return SrgbDecode(float3(tex2D(ToneLookupTexture, float2(u.r, 0.5)).r, tex2D(ToneLookupTexture, float2(u.g, 0.5)).g,
                             tex2D(ToneLookupTexture, float2(u.b, 0.5)).b));
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 scene = tex2D(SceneTexture, i.uv);
#ifndef ENABLED
    return scene;
#else
    float3 colour = scene.rgb;
#ifdef SHARPEN
    // Sharpening against the four diagonal neighbours (c7.z is minus the strength).
    float3 around = tex2D(SceneTexture, i.uv + Constants[7].xy).rgb + tex2D(SceneTexture, i.uv - Constants[7].xy).rgb +
                    tex2D(SceneTexture, i.uv + float2(Constants[7].x, -Constants[7].y)).rgb +
                    tex2D(SceneTexture, i.uv - float2(Constants[7].x, -Constants[7].y)).rgb;
    colour += (around * 0.25 - colour) * Constants[7].z;
#endif
    float4 glow = tex2D(GlowTexture, i.glowUv);
    colour += glow.rgb * Constants[0].rgb;
    colour *= Constants[7].w;
#ifdef LOCAL_CONTRAST
    // The local average is the glow cell's alpha.
    float local = glow.a;
    // The tone curve's green at the pixel's luminance: the table's alpha holds its square
    // root.
    float root = tex2D(ToneLookupTexture, float2(sqrt(max(Luminance(colour), 0.0)) * (1023.0 / 1024.0 / 2.0) + 0.5 / 1024.0, 0.5)).a;
    float here = root * root;
    float ratio = clamp(here / max(local, 1e-4), Constants[2].y * 2.0, Constants[2].z * 2.0);
    colour *= pow(ratio, Constants[2].x - 1.0);
#endif
    float3 original = colour;
    colour = ToneCurveAndLookup(colour);
    float grey = Luminance(colour);
    colour = lerp(float3(grey, grey, grey), colour, Constants[1].z);
    colour = saturate((colour - 0.5) * Constants[1].w + 0.5);
    // Exclude colours keep their original look near them.
    float keep0 = saturate(length(original - Constants[4].rgb) * Constants[6].x + Constants[6].z);
    float keep1 = saturate(length(original - Constants[5].rgb) * Constants[6].y + Constants[6].w);
    colour = lerp(saturate(original), colour, lerp(1.0, keep0, Constants[4].a) * lerp(1.0, keep1, Constants[5].a));
    colour = lerp(colour, i.gradient.rgb, saturate(i.gradient.a));
    colour *= lerp(float3(1.0, 1.0, 1.0), tex2D(CloudTexture, i.cloudUv).rgb * Constants[8].rgb, Constants[8].a);
    colour *= saturate(length(i.vignette) * Constants[1].x + Constants[1].y);
#ifdef LOW_SPEC_MODE
    colour *= Constants[9].rgb;
#endif
#ifdef OUTLINES
    float4 outline = tex2D(OutlineTexture, i.uv);
    float cover = saturate(outline.a * Constants[3].x - Constants[3].y);
    colour = lerp(colour, outline.rgb / max(outline.a, 1e-3), cover);
#endif
    colour *= i.factor.rgb;
#ifdef LUM_IN_ALPHA
    // FXAA reads the luminance of the written (gamma-encoded) picture.
    return float4(colour, Luminance(sqrt(saturate(colour))));
#else
    return float4(colour, scene.a);
#endif
#endif
}
