// Particles: one quad per particle, drawn instanced. Stream 0 holds the quad's corner
// (0..1 in x and y), stream 1 one record per particle: position and normalised age,
// [velocity,] and four random bytes.
//
// Vertex registers the particle draw writes: c0-c3 one per colour/size node (time, size,
// reciprocal span to the next node, and in w the rotation speed range: minimum, maximum,
// secondary minimum, secondary maximum), c4-c7 the node colours (linear, desaturated),
// c8 and c9 the quad's two axes (VELOCITY_ALIGN: c8 the camera position in model
// space), c10 the anchor, c11 the shape (x, y the quad's extents; VELOCITY_ALIGN: z the
// stretch by speed), c12 the texture frames (1 / X, 1 / Y, X x Y, X), c13 in x the start
// angle per unit of the normalised random byte (0 without a random start). Pixel c0: the
// desaturation factor in x.
#include "Globals.hlsli"

float4 NodeParams[4] : register(c0);
float4 NodeColors[4] : register(c4);
float4 AxisA : register(c8);
float4 AxisB : register(c9);
float4 Anchor : register(c10);
float4 Shape : register(c11);
float4 TextureFrames : register(c12);
float4 RotationStart : register(c13);
row_major float4x4 ModelViewProjMatrix;
float4 ConstantColor;

// The pixel stage's c0 holds the desaturation factor; one name serves both stages' c0.
#define Desaturation NodeParams[0]
sampler2D DiffuseTexture : register(s0);

struct VertexOut
{
    float4 position : POSITION;
    float4 colour : COLOR0;
    float4 uv : TEXCOORD0;      // xy this frame, zw the next (frame blending)
    float4 screen : TEXCOORD1;
    float blend : TEXCOORD2;
};

// Texture coordinates of one frame of the X x Y sheet.
float2 FrameUV(float2 uv, float frame)
{
    float row = floor(frame * TextureFrames.x + 0.0001);
    float column = frame - row * TextureFrames.w;
    return (uv + float2(column, row)) * TextureFrames.xy;
}

VertexOut vertex(float4 corner : BLENDWEIGHT, float4 instance : POSITION, float3 velocity : NORMAL,
                 float4 random : BLENDINDICES)
{
    VertexOut o;
    float age = instance.w;

    // Colour and size over life: the node segment the age lies in.
    float4 nodeA = NodeParams[2];
    float4 nodeB = NodeParams[3];
    float4 colourA = NodeColors[2];
    float4 colourB = NodeColors[3];
    if (age < NodeParams[1].x)
    {
        nodeA = NodeParams[0];
        nodeB = NodeParams[1];
        colourA = NodeColors[0];
        colourB = NodeColors[1];
    }
    else if (age < NodeParams[2].x)
    {
        nodeA = NodeParams[1];
        nodeB = NodeParams[2];
        colourA = NodeColors[1];
        colourB = NodeColors[2];
    }
    float u = min(1.0, (age - nodeA.x) * nodeA.z);
    float size = lerp(nodeA.y, nodeB.y, u);
    o.colour = lerp(colourA, colourB, u) * ConstantColor;

    // The corner in the quad's frame: x and y in its plane, z along its normal.
    float2 corner2 = corner.xy - Anchor.xy;
    float3 offset = float3(corner2, 0.0);
#ifdef ROTATION
    // Two angles, as mesh particles turn: each the start angle (the random low byte, when
    // the definition asks for a random start) plus the age times a speed picked between
    // its minimum and maximum by the high byte. The first turns the quad in its plane, the
    // second tips it about its first axis.
    float start = random.x * RotationStart.x;
    float a = start + age * lerp(NodeParams[0].w, NodeParams[1].w, random.y);
    float b = start + age * lerp(NodeParams[2].w, NodeParams[3].w, random.y);
    float sa = sin(a);
    float ca = cos(a);
    float sb = sin(b);
    float cb = cos(b);
    offset = float3(corner2.x * ca - corner2.y * sa * cb, corner2.x * sa + corner2.y * ca * cb, corner2.y * sb);
#endif

    float3 position = instance.xyz;
#if defined(VELOCITY_ALIGN)
    // Stretched along the velocity, turned about it toward the camera.
    float speed = length(velocity);
    float3 along = speed > 0.0 ? velocity / speed : float3(0.0, 1.0, 0.0);
    float3 side = cross(along, AxisA.xyz - position);
    side = side / max(length(side), 0.000001);
    position += side * (offset.x * size * Shape.x) + along * (offset.y * (size * Shape.y + speed * Shape.z)) +
                cross(side, along) * (offset.z * size * Shape.y);
#elif defined(VELOCITY_NORMAL)
    // Facing along the velocity; at rest along AxisB.
    float speed = length(velocity);
    float3 forward = speed > 0.0 ? velocity / speed : AxisB.xyz;
    float3 side = cross(float3(-0.0124, 1.0, 0.131), forward);
    side = side / max(length(side), 0.000001);
    float3 up = cross(forward, side);
    position += (side * offset.x * Shape.x + up * offset.y * Shape.y + forward * offset.z * Shape.y) * size;
#else
    position += (AxisA.xyz * offset.x * Shape.x + AxisB.xyz * offset.y * Shape.y +
                 cross(AxisA.xyz, AxisB.xyz) * offset.z * Shape.y) * size;
#endif
    o.position = mul(float4(position, 1.0), ModelViewProjMatrix);
    o.screen = o.position;

    float2 uv = float2(corner.x, 1.0 - corner.y);
    o.uv = float4(uv, uv);
    o.blend = 0.0;
#ifdef TEXTURE_ANIMATION
#ifdef RANDOM_TEXTURE_FRAME
    // The random value has 16 bits (x the low byte, y the high one).
    float frame = min(floor(dot(random.xy, float2(255.0, 65280.0)) / 65536.0 * TextureFrames.z), TextureFrames.z - 1.0);
    o.uv = float4(FrameUV(uv, frame), FrameUV(uv, frame));
#else
    float cycle = saturate(age) * TextureFrames.z;
    float frame = min(floor(cycle), TextureFrames.z - 1.0);
    o.uv = float4(FrameUV(uv, frame), FrameUV(uv, min(frame + 1.0, TextureFrames.z - 1.0)));
    o.blend = cycle - frame;
#endif
#endif
    return o;
}

float4 pixel(VertexOut i) : COLOR0
{
    float4 texel = tex2D(DiffuseTexture, i.uv.xy);
#ifdef TEXTURE_FRAME_INTERPOLATION
    texel = lerp(texel, tex2D(DiffuseTexture, i.uv.zw), saturate(i.blend));
#endif
#ifdef TEXTURE_DESATURATION
    float grey = dot(texel.rgb, float3(0.2126, 0.7152, 0.0722));
    texel.rgb = lerp(texel.rgb, float3(grey, grey, grey), Desaturation.x);
#endif
    float4 result = texel * i.colour;
#ifdef SOFTNESS
    float2 screenUV = i.screen.xy / i.screen.w * float2(0.5, -0.5) + 0.5;
    result.a *= saturate((ReadLinearDepth(screenUV) - i.screen.w) * 0.5);
#endif
#ifdef FOG
    float fog = saturate(i.screen.w * DepthParams.z);
#ifdef BLEND_ALPHA
    result.rgb = lerp(result.rgb, SceneParameters.rgb, fog);
#else
    result.rgb *= 1.0 - fog;
#endif
#endif
    return result;
}
