# The rooms of the client, lowest first, and the folders each may include
# from besides its own. The build links one library per room with these as
# its only dependencies, and the test layer_includes (cmake/check_layers.cmake)
# reads every #include "folder/..." against the same table, so an arrow back
# up fails both ways: a missing symbol at link time, a named line in the test.
#
# inspect/ and convert/ sit side by side above transfer/: i reads images and
# compares tracks as a verified write does, a converter renders tracks with
# the write planner. Neither uses the other; app/ uses both.
set(FERRY2_LAYERS core image link transfer inspect convert app)
set(FERRY2_USES_core "")
set(FERRY2_USES_image core)
set(FERRY2_USES_link core image)
set(FERRY2_USES_transfer core image link)
set(FERRY2_USES_inspect core image link transfer)
set(FERRY2_USES_convert core image link transfer)
set(FERRY2_USES_app core image link transfer inspect convert)
# The simulator is a program of its own: it shares only the byte helpers.
set(FERRY2_SIM_SHARES core/bytes.h)
