# GIF, on giflib: the first frame in, its indices kept; a daz image out.
orvx_format(NAME gif
  SOURCES gif_format.cpp gif_source.cpp gif_indices.cpp gif_rgba.cpp gif_export.cpp
  LIBRARIES orvx::gif
  CONDITION ORVX_HAVE_GIF)
