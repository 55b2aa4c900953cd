#pragma once
// Private to platform/gfx: the OpenGL 4.5 core entry points the drawing device uses,
// fetched once per process through eglGetProcAddress (a hand list; no loader library).
// Types and constants come from the Khronos registry header glcorearb.h.
#include <GL/glcorearb.h>

namespace gfx::detail {

// Sampler parameter of EXT_texture_sRGB_decode (glcorearb.h lacks the values) and the
// sRGB block-compressed formats of EXT_texture_sRGB with S3TC.
constexpr GLenum kGlDecodeExt = 0x8A49;
constexpr GLenum kGlSkipDecodeExt = 0x8A4A;
constexpr GLenum kGlSrgbDxt1 = 0x8C4D;
constexpr GLenum kGlSrgbDxt3 = 0x8C4E;
constexpr GLenum kGlSrgbDxt5 = 0x8C4F;

#define GFX_GL_FUNCTIONS(X)                                                                                  \
    X(PFNGLGETERRORPROC, glGetError)                                                                         \
    X(PFNGLGETSTRINGPROC, glGetString)                                                                       \
    X(PFNGLGETSTRINGIPROC, glGetStringi)                                                                     \
    X(PFNGLGETINTEGERVPROC, glGetIntegerv)                                                                   \
    X(PFNGLENABLEPROC, glEnable)                                                                             \
    X(PFNGLDISABLEPROC, glDisable)                                                                           \
    X(PFNGLBLENDFUNCSEPARATEPROC, glBlendFuncSeparate)                                                       \
    X(PFNGLBLENDEQUATIONSEPARATEPROC, glBlendEquationSeparate)                                               \
    X(PFNGLBLENDCOLORPROC, glBlendColor)                                                                     \
    X(PFNGLCOLORMASKIPROC, glColorMaski)                                                                     \
    X(PFNGLDEPTHFUNCPROC, glDepthFunc)                                                                       \
    X(PFNGLDEPTHMASKPROC, glDepthMask)                                                                       \
    X(PFNGLPOLYGONOFFSETPROC, glPolygonOffset)                                                               \
    X(PFNGLPOLYGONMODEPROC, glPolygonMode)                                                                   \
    X(PFNGLSTENCILFUNCPROC, glStencilFunc)                                                                   \
    X(PFNGLSTENCILOPPROC, glStencilOp)                                                                       \
    X(PFNGLSTENCILMASKPROC, glStencilMask)                                                                   \
    X(PFNGLCULLFACEPROC, glCullFace)                                                                         \
    X(PFNGLFRONTFACEPROC, glFrontFace)                                                                       \
    X(PFNGLSCISSORPROC, glScissor)                                                                           \
    X(PFNGLVIEWPORTPROC, glViewport)                                                                         \
    X(PFNGLDEPTHRANGEFPROC, glDepthRangef)                                                                   \
    X(PFNGLCLIPCONTROLPROC, glClipControl)                                                                   \
    X(PFNGLCLEARCOLORPROC, glClearColor)                                                                     \
    X(PFNGLCLEARDEPTHFPROC, glClearDepthf)                                                                   \
    X(PFNGLCLEARSTENCILPROC, glClearStencil)                                                                 \
    X(PFNGLCLEARPROC, glClear)                                                                               \
    X(PFNGLPOINTSIZEPROC, glPointSize)                                                                       \
    X(PFNGLGENTEXTURESPROC, glGenTextures)                                                                   \
    X(PFNGLDELETETEXTURESPROC, glDeleteTextures)                                                             \
    X(PFNGLBINDTEXTUREPROC, glBindTexture)                                                                   \
    X(PFNGLACTIVETEXTUREPROC, glActiveTexture)                                                               \
    X(PFNGLTEXIMAGE2DPROC, glTexImage2D)                                                                     \
    X(PFNGLTEXSUBIMAGE2DPROC, glTexSubImage2D)                                                               \
    X(PFNGLCOMPRESSEDTEXIMAGE2DPROC, glCompressedTexImage2D)                                                 \
    X(PFNGLCOMPRESSEDTEXSUBIMAGE2DPROC, glCompressedTexSubImage2D)                                           \
    X(PFNGLTEXPARAMETERIPROC, glTexParameteri)                                                               \
    X(PFNGLTEXPARAMETERIVPROC, glTexParameteriv)                                                             \
    X(PFNGLPIXELSTOREIPROC, glPixelStorei)                                                                   \
    X(PFNGLREADPIXELSPROC, glReadPixels)                                                                     \
    X(PFNGLGENSAMPLERSPROC, glGenSamplers)                                                                   \
    X(PFNGLDELETESAMPLERSPROC, glDeleteSamplers)                                                             \
    X(PFNGLBINDSAMPLERPROC, glBindSampler)                                                                   \
    X(PFNGLSAMPLERPARAMETERIPROC, glSamplerParameteri)                                                       \
    X(PFNGLSAMPLERPARAMETERFPROC, glSamplerParameterf)                                                       \
    X(PFNGLSAMPLERPARAMETERFVPROC, glSamplerParameterfv)                                                     \
    X(PFNGLGENBUFFERSPROC, glGenBuffers)                                                                     \
    X(PFNGLDELETEBUFFERSPROC, glDeleteBuffers)                                                               \
    X(PFNGLBINDBUFFERPROC, glBindBuffer)                                                                     \
    X(PFNGLBUFFERDATAPROC, glBufferData)                                                                     \
    X(PFNGLBUFFERSUBDATAPROC, glBufferSubData)                                                               \
    X(PFNGLBUFFERSTORAGEPROC, glBufferStorage)                                                               \
    X(PFNGLMAPBUFFERRANGEPROC, glMapBufferRange)                                                             \
    X(PFNGLUNMAPBUFFERPROC, glUnmapBuffer)                                                                   \
    X(PFNGLBINDBUFFERRANGEPROC, glBindBufferRange)                                                           \
    X(PFNGLGENVERTEXARRAYSPROC, glGenVertexArrays)                                                           \
    X(PFNGLDELETEVERTEXARRAYSPROC, glDeleteVertexArrays)                                                     \
    X(PFNGLBINDVERTEXARRAYPROC, glBindVertexArray)                                                           \
    X(PFNGLENABLEVERTEXATTRIBARRAYPROC, glEnableVertexAttribArray)                                           \
    X(PFNGLDISABLEVERTEXATTRIBARRAYPROC, glDisableVertexAttribArray)                                         \
    X(PFNGLVERTEXATTRIBPOINTERPROC, glVertexAttribPointer)                                                   \
    X(PFNGLVERTEXATTRIB4FPROC, glVertexAttrib4f)                                                             \
    X(PFNGLCREATESHADERPROC, glCreateShader)                                                                 \
    X(PFNGLSHADERSOURCEPROC, glShaderSource)                                                                 \
    X(PFNGLCOMPILESHADERPROC, glCompileShader)                                                               \
    X(PFNGLGETSHADERIVPROC, glGetShaderiv)                                                                   \
    X(PFNGLGETSHADERINFOLOGPROC, glGetShaderInfoLog)                                                         \
    X(PFNGLDELETESHADERPROC, glDeleteShader)                                                                 \
    X(PFNGLCREATEPROGRAMPROC, glCreateProgram)                                                               \
    X(PFNGLATTACHSHADERPROC, glAttachShader)                                                                 \
    X(PFNGLLINKPROGRAMPROC, glLinkProgram)                                                                   \
    X(PFNGLGETPROGRAMIVPROC, glGetProgramiv)                                                                 \
    X(PFNGLGETPROGRAMINFOLOGPROC, glGetProgramInfoLog)                                                       \
    X(PFNGLDELETEPROGRAMPROC, glDeleteProgram)                                                               \
    X(PFNGLUSEPROGRAMPROC, glUseProgram)                                                                     \
    X(PFNGLGETUNIFORMLOCATIONPROC, glGetUniformLocation)                                                     \
    X(PFNGLUNIFORM1IPROC, glUniform1i)                                                                       \
    X(PFNGLUNIFORM1FPROC, glUniform1f)                                                                       \
    X(PFNGLUNIFORM2FPROC, glUniform2f)                                                                       \
    X(PFNGLUNIFORM4FVPROC, glUniform4fv)                                                                     \
    X(PFNGLGENFRAMEBUFFERSPROC, glGenFramebuffers)                                                           \
    X(PFNGLDELETEFRAMEBUFFERSPROC, glDeleteFramebuffers)                                                     \
    X(PFNGLBINDFRAMEBUFFERPROC, glBindFramebuffer)                                                           \
    X(PFNGLFRAMEBUFFERTEXTURE2DPROC, glFramebufferTexture2D)                                                 \
    X(PFNGLDRAWBUFFERSPROC, glDrawBuffers)                                                                   \
    X(PFNGLREADBUFFERPROC, glReadBuffer)                                                                     \
    X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, glCheckFramebufferStatus)                                             \
    X(PFNGLBLITFRAMEBUFFERPROC, glBlitFramebuffer)                                                           \
    X(PFNGLDRAWARRAYSPROC, glDrawArrays)                                                                     \
    X(PFNGLDRAWELEMENTSPROC, glDrawElements)                                                                 \
    X(PFNGLDRAWELEMENTSBASEVERTEXPROC, glDrawElementsBaseVertex)                                             \
    X(PFNGLDRAWELEMENTSINSTANCEDBASEVERTEXPROC, glDrawElementsInstancedBaseVertex)                           \
    X(PFNGLVERTEXATTRIBDIVISORPROC, glVertexAttribDivisor)                                                   \
    X(PFNGLFENCESYNCPROC, glFenceSync)                                                                       \
    X(PFNGLCLIENTWAITSYNCPROC, glClientWaitSync)                                                             \
    X(PFNGLDELETESYNCPROC, glDeleteSync)                                                                     \
    X(PFNGLFINISHPROC, glFinish)                                                                             \
    X(PFNGLFLUSHPROC, glFlush)

struct GlFunctions {
#define GFX_GL_MEMBER(type, name) type name = nullptr;
    GFX_GL_FUNCTIONS(GFX_GL_MEMBER)
#undef GFX_GL_MEMBER
};

// The process's table: null until LoadGlFunctions succeeded once (needs a current
// context on some drivers; the device loads it right after making its first context
// current); with getProc null, the table loaded before or null. Thread-safe.
const GlFunctions* LoadGlFunctions(void* (*getProc)(const char* name));

}  // namespace gfx::detail
