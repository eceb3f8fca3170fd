function(ctslab_embed_catalogue target variant)
endfunction()
