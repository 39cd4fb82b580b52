-- loaded by the engine as source text
unit_source_chunk = "source ran"
