// Cairo, Pango, xkbcommon and xcb-cursor are loaded when a selection starts, not when the
// program starts: the warm-up answers without paying for them. Include this header last, after
// the libraries' own headers; each call below then goes through a pointer looked up once.
#pragma once

#include <cairo-xcb.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <xcb/xcb_cursor.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace orvane::selector::linux_ui {

// Loads the libraries (once); false when one of them cannot be loaded.
bool loadDrawingLibraries();

// The function `name` of the loaded libraries; the process ends when it is missing, which
// only a broken installation can cause (loadDrawingLibraries() tells that first).
void* drawingSymbol(const char* name);

}  // namespace orvane::selector::linux_ui

// A call through the looked-up pointer, typed as the library declares the function.
#define ORVANE_LAZY(name)                                                                        \
  ([] {                                                                                          \
    static const auto function =                                                                 \
        reinterpret_cast<decltype(&::name)>(::orvane::selector::linux_ui::drawingSymbol(#name)); \
    return function;                                                                             \
  }())

// clang-format off
#define cairo_arc(...) ORVANE_LAZY(cairo_arc)(__VA_ARGS__)
#define cairo_clip(...) ORVANE_LAZY(cairo_clip)(__VA_ARGS__)
#define cairo_close_path(...) ORVANE_LAZY(cairo_close_path)(__VA_ARGS__)
#define cairo_create(...) ORVANE_LAZY(cairo_create)(__VA_ARGS__)
#define cairo_destroy(...) ORVANE_LAZY(cairo_destroy)(__VA_ARGS__)
#define cairo_fill(...) ORVANE_LAZY(cairo_fill)(__VA_ARGS__)
#define cairo_fill_preserve(...) ORVANE_LAZY(cairo_fill_preserve)(__VA_ARGS__)
#define cairo_font_options_create(...) ORVANE_LAZY(cairo_font_options_create)(__VA_ARGS__)
#define cairo_font_options_destroy(...) ORVANE_LAZY(cairo_font_options_destroy)(__VA_ARGS__)
#define cairo_font_options_set_antialias(...) ORVANE_LAZY(cairo_font_options_set_antialias)(__VA_ARGS__)
#define cairo_font_options_set_hint_metrics(...) ORVANE_LAZY(cairo_font_options_set_hint_metrics)(__VA_ARGS__)
#define cairo_font_options_set_hint_style(...) ORVANE_LAZY(cairo_font_options_set_hint_style)(__VA_ARGS__)
#define cairo_image_surface_create(...) ORVANE_LAZY(cairo_image_surface_create)(__VA_ARGS__)
#define cairo_image_surface_get_data(...) ORVANE_LAZY(cairo_image_surface_get_data)(__VA_ARGS__)
#define cairo_image_surface_get_stride(...) ORVANE_LAZY(cairo_image_surface_get_stride)(__VA_ARGS__)
#define cairo_matrix_init(...) ORVANE_LAZY(cairo_matrix_init)(__VA_ARGS__)
#define cairo_move_to(...) ORVANE_LAZY(cairo_move_to)(__VA_ARGS__)
#define cairo_new_path(...) ORVANE_LAZY(cairo_new_path)(__VA_ARGS__)
#define cairo_new_sub_path(...) ORVANE_LAZY(cairo_new_sub_path)(__VA_ARGS__)
#define cairo_pattern_create_for_surface(...) ORVANE_LAZY(cairo_pattern_create_for_surface)(__VA_ARGS__)
#define cairo_pattern_destroy(...) ORVANE_LAZY(cairo_pattern_destroy)(__VA_ARGS__)
#define cairo_pattern_set_matrix(...) ORVANE_LAZY(cairo_pattern_set_matrix)(__VA_ARGS__)
#define cairo_rectangle(...) ORVANE_LAZY(cairo_rectangle)(__VA_ARGS__)
#define cairo_restore(...) ORVANE_LAZY(cairo_restore)(__VA_ARGS__)
#define cairo_save(...) ORVANE_LAZY(cairo_save)(__VA_ARGS__)
#define cairo_scale(...) ORVANE_LAZY(cairo_scale)(__VA_ARGS__)
#define cairo_set_line_width(...) ORVANE_LAZY(cairo_set_line_width)(__VA_ARGS__)
#define cairo_set_operator(...) ORVANE_LAZY(cairo_set_operator)(__VA_ARGS__)
#define cairo_set_source(...) ORVANE_LAZY(cairo_set_source)(__VA_ARGS__)
#define cairo_set_source_rgb(...) ORVANE_LAZY(cairo_set_source_rgb)(__VA_ARGS__)
#define cairo_set_source_rgba(...) ORVANE_LAZY(cairo_set_source_rgba)(__VA_ARGS__)
#define cairo_stroke(...) ORVANE_LAZY(cairo_stroke)(__VA_ARGS__)
#define cairo_surface_destroy(...) ORVANE_LAZY(cairo_surface_destroy)(__VA_ARGS__)
#define cairo_surface_flush(...) ORVANE_LAZY(cairo_surface_flush)(__VA_ARGS__)
#define cairo_translate(...) ORVANE_LAZY(cairo_translate)(__VA_ARGS__)
#define cairo_xcb_surface_create(...) ORVANE_LAZY(cairo_xcb_surface_create)(__VA_ARGS__)
#define g_object_unref(...) ORVANE_LAZY(g_object_unref)(__VA_ARGS__)
#define pango_cairo_context_set_font_options(...) ORVANE_LAZY(pango_cairo_context_set_font_options)(__VA_ARGS__)
#define pango_cairo_font_map_get_default(...) ORVANE_LAZY(pango_cairo_font_map_get_default)(__VA_ARGS__)
#define pango_cairo_show_layout(...) ORVANE_LAZY(pango_cairo_show_layout)(__VA_ARGS__)
#define pango_cairo_update_layout(...) ORVANE_LAZY(pango_cairo_update_layout)(__VA_ARGS__)
#define pango_context_set_round_glyph_positions(...) ORVANE_LAZY(pango_context_set_round_glyph_positions)(__VA_ARGS__)
#define pango_font_description_free(...) ORVANE_LAZY(pango_font_description_free)(__VA_ARGS__)
#define pango_font_description_new(...) ORVANE_LAZY(pango_font_description_new)(__VA_ARGS__)
#define pango_font_description_set_absolute_size(...) ORVANE_LAZY(pango_font_description_set_absolute_size)(__VA_ARGS__)
#define pango_font_description_set_family(...) ORVANE_LAZY(pango_font_description_set_family)(__VA_ARGS__)
#define pango_font_description_set_weight(...) ORVANE_LAZY(pango_font_description_set_weight)(__VA_ARGS__)
#define pango_font_map_create_context(...) ORVANE_LAZY(pango_font_map_create_context)(__VA_ARGS__)
#define pango_layout_get_extents(...) ORVANE_LAZY(pango_layout_get_extents)(__VA_ARGS__)
#define pango_layout_new(...) ORVANE_LAZY(pango_layout_new)(__VA_ARGS__)
#define pango_layout_set_alignment(...) ORVANE_LAZY(pango_layout_set_alignment)(__VA_ARGS__)
#define pango_layout_set_ellipsize(...) ORVANE_LAZY(pango_layout_set_ellipsize)(__VA_ARGS__)
#define pango_layout_set_font_description(...) ORVANE_LAZY(pango_layout_set_font_description)(__VA_ARGS__)
#define pango_layout_set_single_paragraph_mode(...) ORVANE_LAZY(pango_layout_set_single_paragraph_mode)(__VA_ARGS__)
#define pango_layout_set_text(...) ORVANE_LAZY(pango_layout_set_text)(__VA_ARGS__)
#define pango_layout_set_width(...) ORVANE_LAZY(pango_layout_set_width)(__VA_ARGS__)
#define pango_layout_set_wrap(...) ORVANE_LAZY(pango_layout_set_wrap)(__VA_ARGS__)
#define xcb_cursor_context_free(...) ORVANE_LAZY(xcb_cursor_context_free)(__VA_ARGS__)
#define xcb_cursor_context_new(...) ORVANE_LAZY(xcb_cursor_context_new)(__VA_ARGS__)
#define xcb_cursor_load_cursor(...) ORVANE_LAZY(xcb_cursor_load_cursor)(__VA_ARGS__)
#define xkb_context_new(...) ORVANE_LAZY(xkb_context_new)(__VA_ARGS__)
#define xkb_context_unref(...) ORVANE_LAZY(xkb_context_unref)(__VA_ARGS__)
#define xkb_keymap_new_from_string(...) ORVANE_LAZY(xkb_keymap_new_from_string)(__VA_ARGS__)
#define xkb_keymap_unref(...) ORVANE_LAZY(xkb_keymap_unref)(__VA_ARGS__)
#define xkb_keysym_to_lower(...) ORVANE_LAZY(xkb_keysym_to_lower)(__VA_ARGS__)
#define xkb_keysym_to_utf8(...) ORVANE_LAZY(xkb_keysym_to_utf8)(__VA_ARGS__)
#define xkb_state_key_get_one_sym(...) ORVANE_LAZY(xkb_state_key_get_one_sym)(__VA_ARGS__)
#define xkb_state_mod_name_is_active(...) ORVANE_LAZY(xkb_state_mod_name_is_active)(__VA_ARGS__)
#define xkb_state_new(...) ORVANE_LAZY(xkb_state_new)(__VA_ARGS__)
#define xkb_state_unref(...) ORVANE_LAZY(xkb_state_unref)(__VA_ARGS__)
#define xkb_state_update_mask(...) ORVANE_LAZY(xkb_state_update_mask)(__VA_ARGS__)
#define xkb_x11_get_core_keyboard_device_id(...) ORVANE_LAZY(xkb_x11_get_core_keyboard_device_id)(__VA_ARGS__)
#define xkb_x11_keymap_new_from_device(...) ORVANE_LAZY(xkb_x11_keymap_new_from_device)(__VA_ARGS__)
#define xkb_x11_setup_xkb_extension(...) ORVANE_LAZY(xkb_x11_setup_xkb_extension)(__VA_ARGS__)
// clang-format on
