# fish completion for quillmark: commands, options, --device (the mice's
# indices and names from `quillmark list`), --target rates, files and folders.

function __quillmark_mice
    quillmark list --json 2>/dev/null | string replace -rf '^ *"(?:index)": *([0-9]+).*' '$1'
    quillmark list --json 2>/dev/null | string replace -rf '^ *"name": *"(.*)",?$' '$1'
end

set -l commands list measure analyze compare buttons cpi
complete -c quillmark -f
complete -c quillmark -n "not __fish_seen_subcommand_from $commands" -a "$commands"
complete -c quillmark -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'Show help'
complete -c quillmark -n "not __fish_seen_subcommand_from $commands" -s V -l version -d 'Show version'

complete -c quillmark -n "__fish_seen_subcommand_from list" -l json -d 'Print JSON'

complete -c quillmark -n "__fish_seen_subcommand_from measure buttons cpi" -s d -l device -x -a '(__quillmark_mice)' -d 'Mouse'
complete -c quillmark -n "__fish_seen_subcommand_from measure" -s s -l seconds -x -d 'Test length (s)'
complete -c quillmark -n "__fish_seen_subcommand_from measure analyze" -s t -l target -x -a '125 250 500 1000 2000 4000 8000' -d 'Target rate (Hz)'
complete -c quillmark -n "__fish_seen_subcommand_from measure" -l require-target -d 'Exit 6 unless reached'
complete -c quillmark -n "__fish_seen_subcommand_from measure" -l wait -x -d 'Wait for the first report (s)'
complete -c quillmark -n "__fish_seen_subcommand_from measure analyze compare buttons cpi" -l json -d 'Print JSON'
complete -c quillmark -n "__fish_seen_subcommand_from measure analyze" -l intervals -r -F -d 'Intervals CSV'
complete -c quillmark -n "__fish_seen_subcommand_from measure analyze compare" -l plot -r -F -d 'Plot SVG'
complete -c quillmark -n "__fish_seen_subcommand_from measure" -l out -x -a '(__fish_complete_directories)' -d 'Result folders in DIR'
complete -c quillmark -n "__fish_seen_subcommand_from measure" -l repeat -x -d 'Number of tests'
complete -c quillmark -n "__fish_seen_subcommand_from measure" -l label -x -d 'Setup name'

complete -c quillmark -n "__fish_seen_subcommand_from analyze" -s d -l device -x -d 'Device in the file, from 0'
complete -c quillmark -n "__fish_seen_subcommand_from analyze compare" -F
complete -c quillmark -n "__fish_seen_subcommand_from compare" -l label -x -d 'Run names, comma-separated'
complete -c quillmark -n "__fish_seen_subcommand_from compare" -l baseline -x -d 'Setup to judge against'

complete -c quillmark -n "__fish_seen_subcommand_from buttons" -s s -l seconds -x -d 'Seconds to record'
complete -c quillmark -n "__fish_seen_subcommand_from buttons" -l chatter-ms -x -d 'Chatter threshold (ms)'
complete -c quillmark -n "__fish_seen_subcommand_from buttons" -l events -r -F -d 'Button events CSV'
complete -c quillmark -n "__fish_seen_subcommand_from buttons" -l require-clean -d 'Exit 9 on chatter'
complete -c quillmark -n "__fish_seen_subcommand_from cpi" -l distance -x -a '10cm 100mm 4in' -d 'Stroke length'
complete -c quillmark -n "__fish_seen_subcommand_from cpi" -l countdown -x -d 'Seconds before each stroke'
