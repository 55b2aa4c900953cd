// Meshes: the parts of mesh templates in every pass. Forward variants light and texture
// the part; DEFERRED variants write the G-buffer; INSTANCING variants take the world
// matrix's columns and the colour from the instance stream.
//
// Registers the mesh draw writes: vertex c0 up the skinning matrices, c195 the texture
// coordinate transform (scale xy, offset zw), c196 and c197 the mesh's bounding box
// (min, max), c198 the part values (x, z the renderer's, w the culling sign), c200 the
// secondary geometry's line width and blend, c201 the camera position; pixel c194
// (scale, alpha-test sign, alpha-test scalar, 0).
// The scene lighting the renderer sets before the lit passes (forward and third class):
// pixel c205 and c206 the sun and specular directions toward the light in view space,
// c207 the light colour x 0.25 (w its luminance), c208 to c210 the secondary, side and
// specular colours x 0.25, c211 (wrap-around, fake shadow strength, shadow strength, 0),
// c212 and c213 the cloud projection from view space, c214 and c215 the layer's; the
// cloud texture on s4 and the layer texture on s5. The forward variants light with the
// sun as the global light does (the colours are stored at a quarter, so the sum is
// scaled by 4). A part without vertex normals is lit by the normal of its triangle's
// plane, taken from the screen-space slopes of its view position. The vertex stage's
// constants (the skinning palette, the matrices, the colour) are left out of the pixel
// stage, whose 224 registers would not hold them beside these.
#include "GBuffer.hlsli"

#ifndef PIXEL_STAGE
#include "Skinning.hlsli"

row_major float4x4 ModelViewProjMatrix;
row_major float4x4 ModelViewMatrix;
row_major float4x4 ModelMatrix;
float4 ConstantColor;
float4 UVTransform : register(c195);
float4 BoxMin : register(c196);
float4 BoxMax : register(c197);
float4 PartValues : register(c198);
float4 SecondaryParams : register(c200);
float4 CameraPosition : register(c201);
#else
float4 PartParams : register(c194);
float4 SunDirection : register(c205);       // view space, toward the sun
float4 SunColor : register(c207);           // x 0.25; w its luminance
float4 SecondaryColor : register(c208);     // x 0.25
float4 SideColor : register(c209);          // x 0.25
float4 LightTerms : register(c211);         // wrap-around, fake shadow strength, shadow strength
#endif

sampler2D DiffuseTexture : register(s0);
sampler2D NormalTexture : register(s1);
sampler2D EnvironmentTexture : register(s2);
sampler2D ShadowTexture : register(s3);
sampler2D CloudTexture : register(s4);
sampler2D LayerTexture : register(s5);

struct VertexOut
{
    float4 position : POSITION;
    float4 colour : COLOR0;
    float2 uv : TEXCOORD0;
    float3 viewNormal : TEXCOORD1;
    float4 screen : TEXCOORD2;
    float3 worldPosition : TEXCOORD3;
    float3 viewTangent : TEXCOORD4;
    float3 viewPosition : TEXCOORD5;
};

#ifndef PIXEL_STAGE

VertexOut vertex(float4 position : POSITION, float3 normal : NORMAL, float4 tangent : TANGENT,
                 float2 uv : TEXCOORD0, float4 weights : BLENDWEIGHT, float4 indices : BLENDINDICES,
                 float4 instance0 : TEXCOORD4, float4 instance1 : TEXCOORD5, float4 instance2 : TEXCOORD6,
                 float4 instanceColour : TEXCOORD7)
{
    VertexOut o;
    position = float4(position.xyz, 1.0);
#ifdef SKINNING
    position = Skin(position, weights, indices);
#endif
    float4 colour = ConstantColor;
#ifdef INSTANCING
    position = float4(dot(position, instance0), dot(position, instance1), dot(position, instance2), 1.0);
    normal = float3(dot(normal, instance0.xyz), dot(normal, instance1.xyz), dot(normal, instance2.xyz));
    colour = instanceColour;
#endif
#ifdef TWO_SIDED
    normal = normal * PartValues.w;
#endif
    o.position = mul(position, ModelViewProjMatrix);
    o.colour = colour;
    o.uv = uv * UVTransform.xy + UVTransform.zw;
    o.viewNormal = mul(float4(normal, 0.0), ModelViewMatrix).xyz;
    o.screen = o.position;
    o.worldPosition = mul(position, ModelMatrix).xyz;
    o.viewPosition = mul(position, ModelViewMatrix).xyz;
#ifdef NORMAL_MAP_TEXTURE
    o.viewTangent = mul(float4(tangent.xyz, 0.0), ModelViewMatrix).xyz;
#else
    o.viewTangent = float3(1.0, 0.0, 0.0);
#endif
    return o;
}
#else

float3 SurfaceNormal(VertexOut i)
{
    // Without vertex normals (the stream reads zero): the triangle's plane, turned
    // toward the camera (the view origin).
    float3 face = cross(ddx(i.viewPosition), ddy(i.viewPosition));
    face = dot(face, i.viewPosition) > 0.0 ? -face : face;
    float3 n = dot(i.viewNormal, i.viewNormal) > 1e-12 ? i.viewNormal : face;
    n = normalize(n + float3(0.0, 0.0, 1e-12));
#ifdef NORMAL_MAP_TEXTURE
    float3 t = normalize(i.viewTangent + float3(1e-6, 0.0, 0.0));
    float3 b = cross(n, t);
    float3 m = tex2D(NormalTexture, i.uv).xyz * 2.0 - 1.0;
    n = normalize(t * m.x + b * m.y + n * m.z);
#endif
    return n;
}

#ifdef DEFERRED
GBufferOut pixel(VertexOut i)
{
    float4 diffuse = tex2D(DiffuseTexture, i.uv);
    clip(diffuse.a * PartParams.y + PartParams.z);
    return WriteGBuffer(SurfaceNormal(i), i.screen.w);
}
#else
float4 pixel(VertexOut i) : COLOR0
{
    float4 diffuse = tex2D(DiffuseTexture, i.uv) * i.colour;
    clip(diffuse.a * PartParams.y + PartParams.z);
    // The sun as the global light gives it, without the ambient cube.
    float3 n = SurfaceNormal(i);
    float facing = dot(n, SunDirection.xyz);
    float wrap = LightTerms.x;
    float sun = saturate((facing + wrap) / (1.0 + wrap));
    float3 light = SecondaryColor.rgb + SideColor.rgb * (1.0 - abs(facing)) + SunColor.rgb * sun;
    float3 result = diffuse.rgb * light * 4.0;
    float2 screenUV = i.screen.xy / i.screen.w * float2(0.5, -0.5) + 0.5;
#ifdef SHADOWMAP
    float shade = tex2D(ShadowTexture, screenUV).r;
#ifdef SHADOWMAP_FILTERING
    shade = (shade + tex2D(ShadowTexture, screenUV + ScreenTexel.xy).r) * 0.5;
#endif
    result *= lerp(0.5, 1.0, shade);
#endif
#ifdef ENV_MAP
    result += tex2D(EnvironmentTexture, n.xy * 0.5 + 0.5).rgb * PartParams.x;
#endif
#ifdef DESATURATION
    result = lerp(result, dot(result, float3(0.299, 0.587, 0.114)), PartParams.x);
#endif
#ifdef REFRACTION
    result = lerp(tex2D(RefractionTexture, screenUV).rgb, result, diffuse.a);
#endif
#ifdef SOFTNESS
    diffuse.a *= saturate((ReadLinearDepth(screenUV) - i.screen.w) * 0.5);
#endif
#ifdef FOG
    result = lerp(result, SceneParameters.rgb, saturate(i.screen.w * DepthParams.z));
#endif
    return float4(result, diffuse.a);
}
#endif
#endif
