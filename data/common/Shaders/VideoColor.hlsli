// Theora pictures to RGB: Rec. 601 coefficients over the stream's video ranges (Y 16-235,
// Cb and Cr 16-240, clamped), the colour space every Theora stream declares. The result
// is written as it stands: the video draws run with sRGB writes off.
#ifndef VIDEO_COLOR_HLSLI
#define VIDEO_COLOR_HLSLI

float3 VideoYCbCrToRgb(float y, float cb, float cr)
{
    y = (clamp(y * 255.0, 16.0, 235.0) - 16.0) / 219.0;
    cb = (clamp(cb * 255.0, 16.0, 240.0) - 128.0) / 224.0;
    cr = (clamp(cr * 255.0, 16.0, 240.0) - 128.0) / 224.0;
    return saturate(float3(y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb));
}

#endif
