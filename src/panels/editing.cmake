# Hex text rules (no widgets) and the two editing widgets of a register panel.
target_sources(regbench_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/HexText.h ${CMAKE_CURRENT_LIST_DIR}/HexText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HexKeyRules.h ${CMAKE_CURRENT_LIST_DIR}/HexKeyRules.cpp)
target_sources(regbench_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/HexLineEdit.h ${CMAKE_CURRENT_LIST_DIR}/HexLineEdit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UpDown.h ${CMAKE_CURRENT_LIST_DIR}/UpDown.cpp)
