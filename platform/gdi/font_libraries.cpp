// FreeType, fontconfig and FriBidi, opened when the program first needs a
// font, or text in both directions, rather than at start.
//
// The text layer (text.cpp, and the HTML viewer's line order) calls the
// libraries by their own names; this file defines those names and hands
// each call on to the library, opened by the first call. A program's first
// windows are made before it draws any text, and the reader's font
// preparation (PrepareFonts) makes the first calls once they exist, so
// neither the libraries nor theirs (expat, brotli) are mapped on the way to
// the first window. Without a library every call gives
// its failure value: FreeType's set-up fails (no text is drawn),
// fontconfig's leaves the text layer with its own font files, and FriBidi's
// leaves text in the order it was written.
#include <fontconfig/fontconfig.h>
#include <fribidi.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include "kernel/late_call.h"
#include "kernel/module.h"

namespace {

void* FreeTypeCall(const char* name) {
  static void* lib = qk::OpenSystemLibrary({"libfreetype.so.6", "libfreetype.so"});
  return qk::FindLibraryCall(lib, name);
}

void* FontconfigCall(const char* name) {
  static void* lib = qk::OpenSystemLibrary({"libfontconfig.so.1", "libfontconfig.so"});
  return qk::FindLibraryCall(lib, name);
}

void* FriBidiCall(const char* name) {
  static void* lib = qk::OpenSystemLibrary({"libfribidi.so.0", "libfribidi.so"});
  return qk::FindLibraryCall(lib, name);
}

}  // namespace

#define QK_FRIBIDI(ret, name, params, args, missing) QK_LATE_CALL(FriBidiCall, ret, name, params, args, missing)
#define QK_FREETYPE(ret, name, params, args, missing) QK_LATE_CALL(FreeTypeCall, ret, name, params, args, missing)
#define QK_FONTCONFIG(ret, name, params, args, missing) QK_LATE_CALL(FontconfigCall, ret, name, params, args, missing)

// FreeType: a missing library fails at its set-up, before any other call.
QK_FREETYPE(FT_Error, FT_Init_FreeType, (FT_Library * library), (library), FT_Err_Cannot_Open_Resource)
QK_FREETYPE(FT_Error, FT_New_Face, (FT_Library library, const char* path, FT_Long index, FT_Face* face),
            (library, path, index, face), FT_Err_Cannot_Open_Resource)
QK_FREETYPE(FT_Error, FT_Done_Face, (FT_Face face), (face), FT_Err_Invalid_Face_Handle)
QK_FREETYPE(FT_Error, FT_Set_Char_Size,
            (FT_Face face, FT_F26Dot6 width, FT_F26Dot6 height, FT_UInt horizontal, FT_UInt vertical),
            (face, width, height, horizontal, vertical), FT_Err_Invalid_Face_Handle)
QK_FREETYPE(FT_UInt, FT_Get_Char_Index, (FT_Face face, FT_ULong code), (face, code), 0)
QK_FREETYPE(FT_Error, FT_Load_Glyph, (FT_Face face, FT_UInt index, FT_Int32 flags), (face, index, flags),
            FT_Err_Invalid_Face_Handle)
QK_FREETYPE(FT_Error, FT_Render_Glyph, (FT_GlyphSlot slot, FT_Render_Mode mode), (slot, mode),
            FT_Err_Invalid_Slot_Handle)
QK_FREETYPE(void, FT_GlyphSlot_Embolden, (FT_GlyphSlot slot), (slot), )
QK_FREETYPE(void, FT_GlyphSlot_Oblique, (FT_GlyphSlot slot), (slot), )
QK_FREETYPE(void*, FT_Get_Sfnt_Table, (FT_Face face, FT_Sfnt_Tag tag), (face, tag), nullptr)

// fontconfig: a missing library fails at FcInit.
QK_FONTCONFIG(FcBool, FcInit, (void), (), FcFalse)
QK_FONTCONFIG(void, FcFini, (void), (), )
QK_FONTCONFIG(FcPattern*, FcPatternCreate, (void), (), nullptr)
QK_FONTCONFIG(void, FcPatternDestroy, (FcPattern * pattern), (pattern), )
QK_FONTCONFIG(FcBool, FcPatternAddString, (FcPattern * pattern, const char* object, const FcChar8* value),
              (pattern, object, value), FcFalse)
QK_FONTCONFIG(FcBool, FcPatternAddInteger, (FcPattern * pattern, const char* object, int value),
              (pattern, object, value), FcFalse)
QK_FONTCONFIG(FcBool, FcPatternAddBool, (FcPattern * pattern, const char* object, FcBool value),
              (pattern, object, value), FcFalse)
QK_FONTCONFIG(FcBool, FcPatternAddCharSet, (FcPattern * pattern, const char* object, const FcCharSet* value),
              (pattern, object, value), FcFalse)
QK_FONTCONFIG(FcResult, FcPatternGetString, (const FcPattern* pattern, const char* object, int n, FcChar8** value),
              (pattern, object, n, value), FcResultNoMatch)
QK_FONTCONFIG(FcResult, FcPatternGetInteger, (const FcPattern* pattern, const char* object, int n, int* value),
              (pattern, object, n, value), FcResultNoMatch)
QK_FONTCONFIG(FcResult, FcPatternGetCharSet, (const FcPattern* pattern, const char* object, int n, FcCharSet** value),
              (pattern, object, n, value), FcResultNoMatch)
QK_FONTCONFIG(FcBool, FcConfigSubstitute, (FcConfig * config, FcPattern* pattern, FcMatchKind kind),
              (config, pattern, kind), FcFalse)
QK_FONTCONFIG(void, FcDefaultSubstitute, (FcPattern * pattern), (pattern), )
QK_FONTCONFIG(FcPattern*, FcFontMatch, (FcConfig * config, FcPattern* pattern, FcResult* result),
              (config, pattern, result), nullptr)
QK_FONTCONFIG(FcCharSet*, FcCharSetCreate, (void), (), nullptr)
QK_FONTCONFIG(void, FcCharSetDestroy, (FcCharSet * set), (set), )
QK_FONTCONFIG(FcBool, FcCharSetAddChar, (FcCharSet * set, FcChar32 code), (set, code), FcFalse)
QK_FONTCONFIG(FcBool, FcCharSetHasChar, (const FcCharSet* set, FcChar32 code), (set, code), FcFalse)

// FriBidi: levels of 0 are its failure, which the callers check.
QK_FRIBIDI(void, fribidi_get_bidi_types, (const FriBidiChar* text, FriBidiStrIndex length, FriBidiCharType* types),
           (text, length, types), )
QK_FRIBIDI(FriBidiCharType, fribidi_get_bidi_type, (FriBidiChar c), (c), FRIBIDI_TYPE_ON)
QK_FRIBIDI(void, fribidi_get_bracket_types,
           (const FriBidiChar* text, FriBidiStrIndex length, const FriBidiCharType* types, FriBidiBracketType* brackets),
           (text, length, types, brackets), )
QK_FRIBIDI(FriBidiLevel, fribidi_get_par_embedding_levels_ex,
           (const FriBidiCharType* types, const FriBidiBracketType* brackets, FriBidiStrIndex length,
            FriBidiParType* base, FriBidiLevel* levels),
           (types, brackets, length, base, levels), 0)
QK_FRIBIDI(FriBidiParType, fribidi_get_par_direction, (const FriBidiCharType* types, FriBidiStrIndex length),
           (types, length), FRIBIDI_PAR_ON)
QK_FRIBIDI(void, fribidi_get_joining_types, (const FriBidiChar* text, FriBidiStrIndex length, FriBidiJoiningType* joining),
           (text, length, joining), )
QK_FRIBIDI(void, fribidi_join_arabic,
           (const FriBidiCharType* types, FriBidiStrIndex length, const FriBidiLevel* levels, FriBidiArabicProp* props),
           (types, length, levels, props), )
QK_FRIBIDI(void, fribidi_shape,
           (FriBidiFlags flags, const FriBidiLevel* levels, FriBidiStrIndex length, FriBidiArabicProp* props,
            FriBidiChar* text),
           (flags, levels, length, props, text), )
QK_FRIBIDI(FriBidiLevel, fribidi_reorder_line,
           (FriBidiFlags flags, const FriBidiCharType* types, FriBidiStrIndex length, FriBidiStrIndex offset,
            FriBidiParType base, FriBidiLevel* levels, FriBidiChar* visual, FriBidiStrIndex* map),
           (flags, types, length, offset, base, levels, visual, map), 0)
