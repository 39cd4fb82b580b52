-- compiled to 32-bit Lua 5.2 bytecode by the build
unit_bytecode_chunk = "bytecode ran"
