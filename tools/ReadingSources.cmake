# The reading side of tamresample: the CSV reader, the survey and the block cutter. It does not
# call the library, so a test or fuzz target can compile it on its own.
set(TAMRESAMPLE_READING_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/CsvReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RecordingSurvey.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RegistrationRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BlockBounds.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BlockCutter.cpp)
