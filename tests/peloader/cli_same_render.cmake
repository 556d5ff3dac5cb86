# The command-line host renders the same frame with the shipped Windows
# module and with the Linux module; the two images must be byte-identical.
# Inputs: EMULATOR (may be empty), CLI, QPX, OUT (a folder).
set(args render "Quillomark\\nfrom two modules" --font "DejaVu Serif" --bold --align center
    --size 40 --color white --composite --plate 320x200 --plate-gradient "#203040,#a0b0c0" -q)
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${EMULATOR} ${CLI} --module ${QPX} ${args} -o ${OUT}/from_qpx.png
                RESULT_VARIABLE qpx_result ERROR_VARIABLE qpx_error)
execute_process(COMMAND ${EMULATOR} ${CLI} ${args} -o ${OUT}/from_so.png
                RESULT_VARIABLE so_result ERROR_VARIABLE so_error)
if(NOT qpx_result EQUAL 0)
  message(FATAL_ERROR "render with ${QPX} failed (${qpx_result}): ${qpx_error}")
endif()
if(NOT so_result EQUAL 0)
  message(FATAL_ERROR "render with the Linux module failed (${so_result}): ${so_error}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/from_qpx.png ${OUT}/from_so.png
                RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "the two modules' renders differ: ${OUT}/from_qpx.png ${OUT}/from_so.png")
endif()
