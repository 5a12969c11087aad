function kelpie_build()
%KELPIE_BUILD  Compile the kelpie MEX file in the folder of this file.
%   KELPIE_BUILD compiles the gateway and the solver sources with MEX.
%   In MATLAB (64-bit) it links MATLAB's own LAPACK and BLAS (-lmwlapack,
%   -lmwblas), which take 64-bit integers; in GNU Octave it links Octave's
%   LAPACK and BLAS with mkoctfile.
%   Every floating-point operation is kept in source order (no contraction
%   into fused multiply-adds) so that results are reproducible.
%
%   See also KELPIE.

clear kelpie  % unload an earlier build so that its file can be replaced
here = fileparts(mfilename('fullpath'));
root = fileparts(here);
solver = fullfile(root, 'solver');
gateway = fullfile(root, 'gateway');
sources = {fullfile(gateway, 'kelpie_mex.cpp'), fullfile(gateway, 'gateway_checks.cpp'), ...
           fullfile(solver, 'block_exchange.cpp'), fullfile(solver, 'block_solve.cpp'), ...
           fullfile(solver, 'box_qp.cpp'), fullfile(solver, 'factor_from_scratch.cpp'), ...
           fullfile(solver, 'ldl_factor.cpp'), fullfile(solver, 'newton_step.cpp'), ...
           fullfile(solver, 'optimality.cpp'), fullfile(solver, 'projected_search.cpp'), ...
           fullfile(solver, 'proximal_steps.cpp'), fullfile(solver, 'stop_rules.cpp'), ...
           fullfile(solver, 'workspace.cpp')};
includes = {['-I' solver], ['-I' gateway]};

if exist('OCTAVE_VERSION', 'builtin')
  setenv('CXXFLAGS', '-O2 -std=c++17 -ffp-contract=off');
  libraries = strsplit(strtrim([mkoctfile('-p', 'LAPACK_LIBS') ' ' mkoctfile('-p', 'BLAS_LIBS')]));
  mkoctfile('--mex', '-o', fullfile(here, 'kelpie.mex'), includes{:}, sources{:}, libraries{:});
else
  flags = 'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off';
  if ispc
    flags = 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise';
  end
  mex('-R2017b', '-DKELPIE_BLAS_INT64', flags, '-outdir', here, '-output', 'kelpie', ...
      includes{:}, sources{:}, '-lmwlapack', '-lmwblas');
end
rehash();  % find the new MEX file ahead of kelpie.m
fprintf('kelpie: built in %s\n', here);
end
